// An INI document by section and key name, tied to a file name.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "ini/string_list.h"

namespace lw {

class TCustomIniFile {
 public:
  explicit TCustomIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;
  virtual ~TCustomIniFile() = default;

  // The name exactly as given at construction; may be empty.
  const std::string& FileName() const { return fileName_; }

  virtual std::string GetValue(std::string_view section, std::string_view key,
                               std::string_view def) const = 0;
  virtual void SetValue(std::string_view section, std::string_view key, std::string_view value) = 0;
  virtual void GetKeyNames(std::string_view section, TStringList& target) const = 0;
  virtual void GetSectionNames(TStringList& target) const = 0;
  virtual void GetSectionLines(std::string_view section, TStringList& target) const = 0;
  virtual void RemoveSection(std::string_view section) = 0;
  virtual void RemoveKey(std::string_view section, std::string_view key) = 0;
  virtual void SaveFile() = 0;

 private:
  std::string fileName_;
};

}  // namespace lw
