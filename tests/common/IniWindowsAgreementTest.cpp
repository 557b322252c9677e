// Our profile-file reader and writer against the system's own profile
// functions, on the same files. Where the system disagrees with our rules the
// rules hold: each disagreement is listed with its reason, and an unlisted one
// (or a listed one that no longer shows) fails the test.
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "common/IniFile.h"

namespace common {
namespace {

using korva_test::TestFolder;
using Probe = std::pair<const char*, const char*>;  // section, key

struct KnownDifference {
  const char* file;
  Probe probe;
  const char* reason;
};

const std::vector<KnownDifference> kKnownDifferences = {
    {"comments", {"S", ";K"}, "a ';' line is a comment to us; the system finds key ';K' in it"},
};
// The system's writer replaces a read-only file when it runs with rights that
// ignore file modes (Wine as root); ours checks the attribute itself.
constexpr char kReadOnlyDifference[] = "the system writes a read-only file as root";

struct TrickyFile {
  const char* name;
  std::optional<std::string> content;  // nothing: no file at all
  std::vector<Probe> probes;
};

// A UTF-16LE file's bytes with its mark; `text` is ASCII.
std::string Utf16(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (const char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

std::vector<TrickyFile> TrickyFiles() {
  return {
      {"UTF-16",
       Utf16("[COM]\r\nCOMPORT=3\r\n[S]\r\n K = \"v\" \r\n"),
       {{"COM", "COMPORT"}, {"S", "K"}, {"S", "None"}}},
      {"quotes",
       "[S]\r\nD=\"x\"\r\nQ='y'\r\nM=\"z'\r\nL=\"\r\nE=\"\"\r\nP= \" p \" \r\nI=a\"b\"\r\n",
       {{"S", "D"}, {"S", "Q"}, {"S", "M"}, {"S", "L"}, {"S", "E"}, {"S", "P"}, {"S", "I"}}},
      {"blanks", " [ S ] \r\n \tK\t = \t v w \t\r\n", {{"S", "K"}}},
      {"duplicates",
       "[S]\r\nK=1\r\nk=2\r\n[T]\r\nX=1\r\n[s]\r\nK=3\r\nLater=4\r\n",
       {{"S", "K"}, {"S", "Later"}, {"T", "X"}}},
      {"empty values", "[S]\r\nE=\r\nB=   \r\n", {{"S", "E"}, {"S", "B"}, {"S", "None"}}},
      {"long values",
       "[S]\r\nK=" + std::string(2047, 'a') + "\r\nL=" + std::string(3000, 'b') + "\r\n",
       {{"S", "K"}, {"S", "L"}}},
      {"missing file", std::nullopt, {{"S", "K"}}},
      {"missing section", "[T]\r\nK=1\r\n", {{"S", "K"}, {"T", "K"}}},
      {"other case", "[Check]\r\nHistoryPath=p\r\n", {{"CHECK", "HISTORYPATH"}}},
      {"byte order mark", "\xEF\xBB\xBF[S]\r\nK=1\r\n", {{"S", "K"}}},
      {"LF only", "[S]\nA=1\n[T]\nC=3", {{"S", "A"}, {"T", "C"}}},
      {"no equals", "[S]\r\nNoEquals\r\nK=1\r\n", {{"S", "NoEquals"}, {"S", "K"}}},
      {"comments",
       "; head\r\n[S]\r\n;K=1\r\nK=2\r\nX=1 ; trailing\r\n",
       {{"S", "K"}, {"S", "X"}, {"S", ";K"}}},
      {"before any section", "K=1\r\n[S]\r\nX=2\r\n", {{"S", "K"}, {"S", "X"}}},
  };
}

struct Edit {
  const char* name;
  std::optional<std::string> content;
  Probe probe;
  const char* value;  // nullptr deletes the key
};

std::vector<Edit> Edits() {
  return {
      {"replace", "[S]\r\nA=1\r\nK=old\r\nB=2\r\n", {"s", "k"}, "new"},
      {"new key", "[S]\r\nA=1\r\n[T]\r\nB=2\r\n", {"S", "K"}, "v"},
      {"new section", "[S]\r\nA=1", {"T", "K"}, "v"},
      {"missing file", std::nullopt, {"S", "K"}, "v"},
      {"LF only", "[S]\nA=1\n[T]\nB=2\n", {"S", "K"}, "v"},
      {"duplicate section", "[S]\r\nA=1\r\n[s]\r\nK=3\r\n", {"S", "K"}, "v"},
      {"blanks and quotes", "[S]\r\n", {"S", "K"}, "  \"v\"  "},
      {"delete", "[S]\r\nA=1\r\nK=2\r\nB=3\r\n", {"S", "K"}, nullptr},
      {"UTF-16 new key", Utf16("[S]\r\nA=1\r\n[T]\r\nB=2\r\n"), {"S", "K"}, "v"},
      {"UTF-16 replace", Utf16("[S]\r\nA=1\r\nK=old\r\n[T]\r\nB=2\r\n"), {"S", "K"}, "new"},
      {"UTF-16 delete", Utf16("[S]\r\nA=1\r\nK=2\r\n[T]\r\nB=2\r\n"), {"S", "K"}, nullptr},
  };
}

// What a file answers to a probe: the value (or "<default>") and whether the
// key is listed among the section's keys.
struct Answer {
  std::string value;
  bool listed;
  bool operator==(const Answer&) const = default;
};

Answer Ours(const std::string& path, Probe probe) {
  const IniFile ini(path);
  return {ini.ReadString(probe.first, probe.second, "<default>"),
          ini.ValueExists(probe.first, probe.second)};
}

Answer Systems(const std::string& path, Probe probe) {
  std::vector<char> buffer(65536, '\0');
  const DWORD size = static_cast<DWORD>(buffer.size());
  Answer answer{
      std::string(buffer.data(), GetPrivateProfileStringA(probe.first, probe.second, "<default>",
                                                          buffer.data(), 2048, path.c_str())),
      false};
  const DWORD n =
      GetPrivateProfileStringA(probe.first, nullptr, "", buffer.data(), size, path.c_str());
  for (DWORD at = 0; at < n; at += static_cast<DWORD>(strlen(buffer.data() + at)) + 1)
    answer.listed = answer.listed || lstrcmpiA(buffer.data() + at, probe.second) == 0;
  return answer;
}

std::string Show(const Answer& a) {
  const std::string value =
      a.value.size() > 30 ? std::to_string(a.value.size()) + " characters" : "\"" + a.value + "\"";
  return value + (a.listed ? " (listed)" : " (not listed)");
}

class IniWindowsAgreementTest : public testing::Test {
 protected:
  // A file name of its own for every file, so no cached copy can answer.
  std::string Place(const std::optional<std::string>& content) {
    const std::string path =
        folder_.File(std::string("f").append(std::to_string(++files_)).append(".INI"));
    if (content)
      TestFolder::Put(path, *content);
    return path;
  }
  TestFolder folder_;
  int files_ = 0;
};

TEST_F(IniWindowsAgreementTest, ReadersAgreeOrDifferAsListed) {
  size_t differences = 0;
  for (const TrickyFile& file : TrickyFiles()) {
    const std::string path = Place(file.content);
    for (const Probe& probe : file.probes) {
      const Answer ours = Ours(path, probe), system = Systems(path, probe);
      bool listed = false;
      for (const KnownDifference& known : kKnownDifferences)
        listed = listed || (file.name == std::string(known.file) &&
                            std::string(probe.second) == known.probe.second);
      differences += listed;
      EXPECT_EQ(ours == system, !listed)
          << file.name << " [" << probe.first << "] " << probe.second << ": ours " << Show(ours)
          << ", the system's " << Show(system);
    }
  }
  EXPECT_EQ(differences, kKnownDifferences.size());
}

// Each side edits its own copy; the system must read our file as we do, and
// both files must answer alike.
TEST_F(IniWindowsAgreementTest, WritersAgree) {
  for (const Edit& edit : Edits()) {
    const std::string oursPath = Place(edit.content), systemPath = Place(edit.content);
    if (edit.value)
      IniFile(oursPath).WriteString(edit.probe.first, edit.probe.second, edit.value);
    else
      IniFile(oursPath).DeleteKey(edit.probe.first, edit.probe.second);
    ASSERT_TRUE(WritePrivateProfileStringA(edit.probe.first, edit.probe.second, edit.value,
                                           systemPath.c_str()));
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, systemPath.c_str());
    // Both writers keep a UTF-16 file in UTF-16.
    if (edit.content && edit.content->starts_with("\xFF\xFE")) {
      EXPECT_TRUE(TestFolder::Get(oursPath).starts_with(Utf16("[S]"))) << edit.name;
      EXPECT_TRUE(TestFolder::Get(systemPath).starts_with(Utf16("[S]"))) << edit.name;
    }
    for (const Probe& probe : {edit.probe, Probe{"S", "A"}, Probe{"T", "B"}}) {
      const Answer ours = Ours(oursPath, probe);
      EXPECT_EQ(ours, Systems(oursPath, probe)) << edit.name << ": " << probe.second;
      EXPECT_EQ(ours, Systems(systemPath, probe)) << edit.name << ": " << probe.second;
      EXPECT_EQ(ours, Ours(systemPath, probe)) << edit.name << ": " << probe.second;
    }
  }
}

TEST_F(IniWindowsAgreementTest, ReadOnlyFilesAreNotWritten) {
  const std::string original = "[S]\r\nK=1\r\n";
  const std::string oursPath = Place(original), systemPath = Place(original);
  TestFolder::MakeReadOnly(oursPath);
  TestFolder::MakeReadOnly(systemPath);
  EXPECT_THROW(IniFile(oursPath).WriteString("S", "K", "2"), EIniFileException);
  EXPECT_EQ(TestFolder::Get(oursPath), original);
  if (WritePrivateProfileStringA("S", "K", "2", systemPath.c_str()))
    RecordProperty("known_difference", kReadOnlyDifference);
}

}  // namespace
}  // namespace common

#endif  // _WIN32
