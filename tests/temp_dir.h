// A fresh folder for one test, removed afterwards; paths handed to the core use
// backslashes on every build, as the core expects.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

namespace lw {

class TempDir {
 public:
  TempDir() {
    std::random_device random;
    static std::atomic<int> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = std::filesystem::temp_directory_path() /
              ("lw-test-" + std::to_string(random()) + "-" + std::to_string(++counter));
      std::error_code error;
      if (std::filesystem::create_directory(path_, error)) return;
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() noexcept {
    std::error_code error;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(path_, error);
  }

  const std::filesystem::path& Native() const { return path_; }
  std::filesystem::path Native(const std::string& name) const { return path_ / name; }

  // The core's form of a path below this folder.
  std::string CorePath(const std::string& name = {}) const {
    std::string text = (name.empty() ? path_ : path_ / name).string();
    for (char& c : text) {
      if (c == '/') c = '\\';
    }
    return text;
  }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(Native(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Native(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::filesystem::path path_;
};

}  // namespace lw
