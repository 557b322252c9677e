// A private temporary folder for tests that write files, removed with
// everything in it (write-protected files too) when the test ends; and the
// system's files with one answer changed, for stand-ins.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/Files.h"
#include "platform/Services.h"

namespace korva_test {

class TestFolder {
 public:
  TestFolder() {
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() / ("korva-test-" + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~TestFolder() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored))
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

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

// Writes the headers of a library built for a 32-bit processor (the loader
// refuses it on them alone): PE32 on Windows, ELF32 elsewhere.
inline void PutOtherProcessorLibrary(const std::string& file) {
  std::string image(512, '\0');
  auto put16 = [&image](size_t at, unsigned value) {
    image[at] = static_cast<char>(value & 0xFF);
    image[at + 1] = static_cast<char>(value >> 8);
  };
#ifdef _WIN32
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;  // where the PE header starts
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  put16(0x44, 0x14C);   // i386
  put16(0x54, 0xE0);    // size of the optional header
  put16(0x56, 0x2102);  // a DLL, 32-bit, executable
  put16(0x58, 0x10B);   // PE32
#else
  image.replace(0, 7,
                "\x7F"
                "ELF\x01\x01\x01");  // 32-bit, little-endian
  put16(16, 3);                      // a shared object
  put16(18, 3);                      // i386
#endif
  TestFolder::Put(file, image);
}

// The system's files, each call passed on; a stand-in overrides what it changes.
class ForwardingFiles : public platform::Files {
 public:
  std::optional<std::string> ReadAll(const std::string& path) override {
    return native_.ReadAll(path);
  }
  bool ReplaceAll(const std::string& path, const std::string& bytes) override {
    return native_.ReplaceAll(path, bytes);
  }
  platform::FileError LastError() override { return native_.LastError(); }
  platform::Appended AppendAll(const std::string& path, const std::string& bytes) override {
    return native_.AppendAll(path, bytes);
  }
  std::optional<uint64_t> FileSize(const std::string& path) override {
    return native_.FileSize(path);
  }
  std::optional<std::string> ReadRange(const std::string& path, uint64_t offset,
                                       size_t count) override {
    return native_.ReadRange(path, offset, count);
  }
  bool RenameReplacing(const std::string& from, const std::string& to) override {
    return native_.RenameReplacing(from, to);
  }
  bool IsProgramFile(const std::string& path) override { return native_.IsProgramFile(path); }
  uint32_t GetAttributes(const std::string& path) override { return native_.GetAttributes(path); }
  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    return native_.SetAttributes(path, attributes);
  }
  std::optional<std::chrono::system_clock::time_point> LastWriteTime(
      const std::string& path) override {
    return native_.LastWriteTime(path);
  }
  std::string Resolve(const std::string& path) override { return native_.Resolve(path); }
  std::string ExecutablePath() override { return native_.ExecutablePath(); }

 protected:
  platform::Files& native_ = platform::NativeFiles();
};

// The file seam's fault injection: replacements that fail as a test says,
// from the `refuseFrom`-th on for good (0: never), or the next `heldUp` ones
// held up by another program for a moment. Counts the replacements asked for.
class FaultyFiles : public ForwardingFiles {
 public:
  bool ReplaceAll(const std::string& path, const std::string& bytes) override {
    ++replacements;
    if (refuseFrom > 0 && replacements >= refuseFrom)
      return Fail({5, false, "Access is denied"});
    if (heldUp > 0) {
      --heldUp;
      return Fail({32, true, "The file is used by another process"});
    }
    return native_.ReplaceAll(path, bytes);
  }
  platform::FileError LastError() override { return error_; }

  int replacements = 0;
  int heldUp = 0;
  int refuseFrom = 0;

 private:
  bool Fail(platform::FileError error) {
    error_ = std::move(error);
    return false;
  }
  platform::FileError error_;
};

}  // namespace korva_test
