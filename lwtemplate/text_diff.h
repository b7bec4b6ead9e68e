// A unified diff of two texts whose line ends matter: every line is shown with its end
// spelled out, so that a change of CR LF to LF alone is as plain as a changed value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lw {

// How a shown line's end is written: CR LF, LF alone, CR alone; a last line without an
// end gets no mark.
inline constexpr std::string_view kCrLfMark = "<CR><LF>";
inline constexpr std::string_view kLfMark = "<LF>";
inline constexpr std::string_view kCrMark = "<CR>";

// The lines of `text` as shown: each line's bytes, then the mark of its end. Lines end at
// CR LF, at LF and at a lone CR, as the phonebook reader cuts them.
std::vector<std::string> ShownLines(std::string_view text);

// The hunks ("@@ -a,b +c,d @@" and their " ", "-" and "+" lines, three lines of context)
// that turn `before` into `after`; none when they are equal. The edit is the shortest one
// while at most kMaxDiffEdits lines differ, else the whole differing middle is replaced.
std::vector<std::string> DiffHunks(std::string_view before, std::string_view after);

inline constexpr int kMaxDiffEdits = 1024;

}  // namespace lw
