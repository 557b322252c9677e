// A private temporary folder for tests that write settings files, removed with
// everything in it (write-protected files too) when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/Files.h"
#include "platform/Services.h"

namespace korva_test {

class IniTestFolder {
 public:
  IniTestFolder() {
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() / ("korva-ini-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~IniTestFolder() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  IniTestFolder(const IniTestFolder&) = delete;
  IniTestFolder& operator=(const IniTestFolder&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

  static void Put(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }
  static std::string Get(const std::string& file) {
    std::ostringstream content;
    content << std::ifstream(file, std::ios::binary).rdbuf();
    return content.str();
  }
  static void MakeReadOnly(const std::string& file) {
    platform::files().SetAttributes(
        file, platform::kFileAttributeReadOnly | platform::kFileAttributeArchive);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace korva_test
