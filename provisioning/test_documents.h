// Test helpers: documents from literal text, their saved bytes, and a platform whose
// console or case folding fails on demand.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "ini/mem_ini_file.h"
#include "support/exception.h"
#include "tests/fake_platform.h"

namespace lw {

inline constexpr std::string_view kPhonebookPath =
    "C:\\Users\\ann\\AppData\\Roaming\\Microsoft\\Network\\Connections\\Pbk\\rasphone.pbk";

// A document named `fileName` holding the parsed `text` (no file is read).
class TextDocument : public TMemIniFile {
 public:
  TextDocument(Platform& platform, std::string_view text, std::string fileName = {})
      : TMemIniFile(platform, std::move(fileName)) {
    LoadText(text);
  }
};

// The bytes SaveFile writes for `document`.
inline std::string Saved(const TMemIniFile& document) {
  return document.SaveText();
}

class TestFailure : public Exception {
 public:
  using Exception::Exception;
};

class FailingPlatform : public FakePlatform {
 public:
  // The console line starting with this text raises TestFailure("console gone") once it
  // has been seen `lineFailsAt` times before (0: the first one).
  std::string failingLine;
  int lineFailsAt = 0;
  // Case folding raises TestFailure("folding failed") while set.
  bool foldingFails = false;
  // Case folding raises std::length_error("folding overflow") while set.
  bool foldingOverflows = false;

  void WriteLine(std::string_view line) override {
    if (!failingLine.empty() && line.substr(0, failingLine.size()) == failingLine &&
        seen_++ == lineFailsAt) {
      throw TestFailure("console gone");
    }
    FakePlatform::WriteLine(line);
  }
  void UpperCase(char* bytes, std::size_t size) override {
    if (foldingFails) throw TestFailure("folding failed");
    if (foldingOverflows) throw std::length_error("folding overflow");
    FakePlatform::UpperCase(bytes, size);
  }

 private:
  int seen_ = 0;
};

}  // namespace lw
