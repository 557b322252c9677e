// A settings file of the benchmark's own in a temporary folder: English,
// history in the folder, no port, no shutdown. The folder goes with it.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace korva_bench {

namespace fs = std::filesystem;

class BenchFolder {
 public:
  explicit BenchFolder(const std::string& prefix) {
    path_ = fs::temp_directory_path() / (prefix + std::to_string(std::random_device{}()));
    fs::create_directories(path_);
    std::ofstream(path_ / "korvamon.INI")
        << "[CHECK]\r\nLanguage=E\r\nHistoryPath=" << (path_ / "history.log").string()
        << "\r\nHistory8k=1\r\nDC_LOW_ShutDown=0\r\n[COM]\r\nCOMPORT=0\r\n";
  }
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string Ini() const { return (path_ / "korvamon.INI").string(); }

 private:
  fs::path path_;
};

}  // namespace korva_bench
