#include "ini/line_store.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace lw {

// The library's own raise of std::length_error: the Windows builds replace it by a smaller one.
void LineStore::TooLarge() {
  std::__throw_length_error("The text is too large for a document (4 GiB, lines of 2 GiB)");
}

LineStore::LineStore() : text_(std::make_shared<const std::string>()) {}

void LineStore::Reset(std::shared_ptr<const std::string> text) {
  runs_.clear();
  lines_.clear();
  holes_ = 0;
  added_.clear();
  unused_ = 0;
  text_ = std::move(text);
  if (text_->size() > std::numeric_limits<std::uint32_t>::max()) TooLarge();
}

LineStore::Piece LineStore::Add(std::string_view bytes) {
  // The size with its kAdded bit must not read as a hole.
  if (bytes.size() >= kAdded - 1 ||
      added_.size() + bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    TooLarge();
  }
  const Piece piece{static_cast<std::uint32_t>(added_.size()),
                    static_cast<std::uint32_t>(bytes.size()) | kAdded};
  added_ += bytes;
  return piece;
}

void LineStore::AppendElsewhere(Run& run, Piece line) {
  const std::size_t end = std::size_t{run.first} + run.count;
  if (end == lines_.size()) TooLarge();  // the array is full
  if (IsHole(lines_[end])) {
    lines_[end] = line;
    --holes_;
  } else {
    // Moved to the end, with as much room again after it, so that a run that keeps
    // growing is moved only now and then.
    const std::size_t first = lines_.size();
    const std::size_t places = 2 * std::size_t{run.count} + 1;
    if (first + places >= kMaxPlaces) TooLarge();
    lines_.resize(first + places, kHole);
    std::copy_n(lines_.begin() + run.first, run.count, lines_.begin() + first);
    std::fill_n(lines_.begin() + run.first, run.count, kHole);
    lines_[first + run.count] = line;
    holes_ += 2 * std::size_t{run.count};
    run.first = static_cast<std::uint32_t>(first);
  }
  ++run.count;
  PackWhenSparse();
}

void LineStore::ReplaceLine(std::size_t run, std::uint32_t position, Piece line) {
  Piece& old = lines_[runs_[run].first + position];
  const std::size_t unused = AddedSize(old);
  old = line;
  NoteUnused(unused);
}

void LineStore::EraseLine(std::size_t r, std::uint32_t position) {
  Run& run = runs_[r];
  const auto at = lines_.begin() + run.first;
  const Piece erased = at[position];
  std::copy(at + position + 1, at + run.count, at + position);
  at[run.count - 1] = kHole;
  --run.count;
  ++holes_;
  NoteUnused(AddedSize(erased));
  PackWhenSparse();
}

void LineStore::EraseRun(std::size_t r) {
  const Run run = runs_[r];
  std::size_t unused = AddedSize(run.name);
  for (std::uint32_t j = 0; j < run.count; ++j) {
    Piece& line = lines_[run.first + j];
    unused += AddedSize(line);
    line = kHole;
  }
  holes_ += run.count;
  runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(r));
  NoteUnused(unused);
  PackWhenSparse();
}

std::size_t LineStore::LinesSize(const Run& run) const {
  std::size_t size = 0;
  for (std::uint32_t j = 0; j < run.count; ++j) size += (lines_[run.first + j].size & ~kAdded) + 2;
  return size;
}

void LineStore::NoteUnused(std::size_t bytes) {
  unused_ += bytes;
  if (unused_ > kSlack && unused_ > added_.size() / 2) PackAdded();
}

void LineStore::PackWhenSparse() {
  // Each move leaves as much room again as it takes: packing right after one would only
  // take that room away again.
  if (holes_ > kSlack && holes_ / 2 > lines_.size() - holes_) PackLines();
}

void LineStore::PackLines() {
  std::vector<Piece> lines;
  lines.reserve(lines_.size() - holes_);
  for (Run& run : runs_) {
    const auto first = static_cast<std::uint32_t>(lines.size());
    lines.insert(lines.end(), lines_.begin() + run.first, lines_.begin() + run.first + run.count);
    run.first = first;
  }
  lines_ = std::move(lines);
  holes_ = 0;
}

void LineStore::PackAdded() {
  std::string added;
  added.reserve(added_.size() - unused_);
  const auto move = [&](Piece& piece) {
    if (InText(piece)) return;
    const std::string_view bytes = View(piece);
    piece.at = static_cast<std::uint32_t>(added.size());
    added += bytes;
  };
  for (Run& run : runs_) {
    move(run.name);
    for (std::uint32_t j = 0; j < run.count; ++j) move(lines_[run.first + j]);
  }
  added_ = std::move(added);
  unused_ = 0;
}

}  // namespace lw
