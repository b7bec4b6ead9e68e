// The pauses of a run, in milliseconds: time for a person to read the console.
#pragma once

#include <cstdint>

namespace lw {

// After the banner, this many times (0.3 s in all).
inline constexpr std::uint32_t kBannerPauseMs = 100;
inline constexpr int kBannerPauses = 3;
// After each phonebook's cycle that ran.
inline constexpr std::uint32_t kPhonebookPauseMs = 1000;
// After the closing line.
inline constexpr std::uint32_t kClosingPauseMs = 3300;

}  // namespace lw
