// Where a document's section names and lines are kept: named runs of lines, in order.
//
// What holds between any two calls:
// - A piece is `size` bytes at `at`: in the text when the kAdded bit of `size` is clear,
//   else in the added bytes. The text never changes; Reset replaces it together with
//   every piece. Nothing is allocated per line or per name.
// - A run is a name and the places [first, first + count) of the line array; no two runs
//   share a place. Every other place of the array is a hole, and holes_ counts them. Runs
//   may stand in the array in any order; their order is that of runs_.
// - unused_ counts the added bytes that no name or line shows any more.
// - Packing changes where pieces and runs point, never what they show: the line array is
//   packed once its holes outnumber its lines twice over, the added bytes are copied
//   afresh once most of them are unused; never while there is less than kSlack to win.
// - Offsets and sizes are 32 bits: a text over 4 GiB, added bytes over 4 GiB, a line of
//   2 GiB or more than 4 G places raise std::length_error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lw {

class LineStore {
 public:
  struct Piece {
    std::uint32_t at;
    std::uint32_t size;
  };
  struct Run {
    Piece name;
    std::uint32_t first;
    std::uint32_t count;
  };
  // Fewer holes or unused bytes than this are never packed away.
  static constexpr std::size_t kSlack = 64 * 1024;

  LineStore();
  LineStore(const LineStore&) = delete;
  LineStore& operator=(const LineStore&) = delete;

  // Empties the store; pieces of `text` can be made from now on.
  void Reset(std::shared_ptr<const std::string> text);
  // Shared with the lists that borrow its bytes, so that they outlive any Reset.
  const std::shared_ptr<const std::string>& Text() const { return text_; }

  std::string_view View(Piece piece) const {
    if (!InText(piece)) return {added_.data() + piece.at, piece.size & ~kAdded};
    return {text_->data() + piece.at, piece.size};
  }
  static bool InText(Piece piece) { return (piece.size & kAdded) == 0; }
  // `bytes`, which lie in the text, as a piece of it.
  Piece OfText(std::string_view bytes) const {
    if (bytes.size() >= kAdded) TooLarge();
    return {static_cast<std::uint32_t>(bytes.data() - text_->data()),
            static_cast<std::uint32_t>(bytes.size())};
  }
  // A copy of `bytes` among the added bytes.
  Piece Add(std::string_view bytes);

  std::size_t RunCount() const { return runs_.size(); }
  const Run& RunAt(std::size_t run) const { return runs_[run]; }
  Piece LineOf(const Run& run, std::uint32_t position) const {
    return lines_[run.first + position];
  }

  void ReserveLines(std::size_t count) { lines_.reserve(count); }
  // A run without lines, after the last.
  void AppendRun(Piece name) {
    runs_.push_back({name, static_cast<std::uint32_t>(lines_.size()), 0});
  }
  void AppendLine(std::size_t run, Piece line) {
    Run& r = runs_[run];
    // Most lines are appended to the run at the end of the array, parsing all of them.
    if (std::size_t{r.first} + r.count == lines_.size() && lines_.size() < kMaxPlaces) {
      lines_.push_back(line);
      ++r.count;
      return;
    }
    AppendElsewhere(r, line);
  }
  void ReplaceLine(std::size_t run, std::uint32_t position, Piece line);
  // Later lines of the run move up by one.
  void EraseLine(std::size_t run, std::uint32_t position);
  // Later runs move up by one.
  void EraseRun(std::size_t run);

  // Each line of the run followed by CR LF, in order, in as few pieces as the text allows.
  template <typename Sink>
  void EmitLines(const Run& run, Sink&& sink) const;
  // The number of bytes EmitLines gives.
  std::size_t LinesSize(const Run& run) const;

  // Places of the line array, holes included, and added bytes, unused ones included.
  std::size_t Places() const { return lines_.size(); }
  std::size_t AddedBytes() const { return added_.size(); }

 private:
  static constexpr std::uint32_t kAdded = 0x80000000u;
  static constexpr Piece kHole{0, 0xFFFFFFFFu};
  static constexpr std::size_t kMaxPlaces = 0xFFFFFFFFu;

  [[noreturn]] static void TooLarge();
  bool IsHole(Piece piece) const { return piece.size == kHole.size; }
  std::size_t AddedSize(Piece piece) const { return InText(piece) ? 0 : piece.size & ~kAdded; }
  void AppendElsewhere(Run& run, Piece line);
  void NoteUnused(std::size_t bytes);
  void PackWhenSparse();
  void PackLines();
  void PackAdded();

  std::shared_ptr<const std::string> text_;
  std::string added_;
  std::size_t unused_ = 0;
  std::vector<Piece> lines_;
  std::size_t holes_ = 0;
  std::vector<Run> runs_;
};

template <typename Sink>
void LineStore::EmitLines(const Run& run, Sink&& sink) const {
  const std::string& text = *text_;
  const Piece* line = lines_.data() + run.first;
  const Piece* const end = line + run.count;
  while (line != end) {
    if (!InText(*line)) {
      sink(View(*line++));
      sink("\r\n");
      continue;
    }
    // Lines that follow each other in the text, CR LF between them, go as one piece.
    const std::size_t from = line->at;
    std::size_t to = from + line->size;
    for (++line; line != end && InText(*line) && line->at == to + 2 && text[to] == '\r' &&
                 text[to + 1] == '\n';
         ++line) {
      to = std::size_t{line->at} + line->size;
    }
    sink(std::string_view(text).substr(from, to - from));
    sink("\r\n");
  }
}

}  // namespace lw
