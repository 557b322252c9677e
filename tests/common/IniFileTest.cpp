// The profile-file engine: lookup rules, in-place edits, refused writes that
// leave the file as it was, replacements held up by another program, several
// values in one replacement, UTF-16 files, and many threads on one file.
#include "common/IniFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <thread>
#include <tuple>
#include <vector>

#include "TestFolder.h"
#include "platform/Files.h"
#include "platform/Services.h"

namespace common {
namespace {

using korva_test::TestFolder;

TEST(IniTextTest, LookupRules) {
  const std::string text =
      "\xEF\xBB\xBF[s]\r\n \tPadded\t =  a b \t\r\nk=first\nK=second\r"
      ";C=comment\r\nNoEquals\r\nInline=1 ; kept\r\nD=\"x\"\r\nQ='y'\r\nM=\"z'\r\nE=\r\nEQ=\"\"\r\n"
      "Long=" +
      std::string(2047, 'a') + "bc\r\n[T]\r\nX=1\r\n[S]\r\nLater=1";
  const std::vector<std::pair<std::pair<const char*, const char*>, const char*>> cases = {
      {{"S", "padded"}, "a b"},  {{" s ", "K"}, "first"}, {{"S", "Inline"}, "1 ; kept"},
      {{"S", "D"}, "x"},         {{"S", "Q"}, "y"},       {{"S", "M"}, "\"z'"},
      {{"S", "E"}, ""},          {{"S", "EQ"}, ""},       {{"T", "X"}, "1"},
      {{"S", "C"}, nullptr},     {{"S", ";C"}, nullptr},  {{"S", "NoEquals"}, nullptr},
      {{"S", "Later"}, nullptr}, {{"U", "X"}, nullptr}};
  for (const auto& [where, expected] : cases) {
    const auto value = IniLookup(text, where.first, where.second);
    EXPECT_EQ(value.value_or("<missing>"), expected ? expected : "<missing>") << where.second;
  }
  EXPECT_EQ(IniLookup(text, "S", "Long"), std::string(2047, 'a'));
  EXPECT_FALSE(IniLookup("", "S", "K"));
  EXPECT_FALSE(IniLookup("K=before any section\r\n[S]\r\n", "S", "K"));
}

TEST(IniTextTest, EditsChangeOnlyTheirOwnLine) {
  // Replaced in place with the file's spelling of the name; the rest byte for byte.
  EXPECT_EQ(
      IniAssign("; x\n[check]\n  historyPATH = old \nK=1\nK=2\n", "CHECK", "HistoryPath", "v"),
      "; x\n[check]\nhistoryPATH=v\nK=1\nK=2\n");
  EXPECT_EQ(IniAssign("[S]\nK=1\nk=2\n", "s", "K", "3"), "[S]\nK=3\nk=2\n");
  // New keys follow the last key of the first section of the name.
  EXPECT_EQ(IniAssign("[A]\r\nX=1\r\n\r\n;n\r\n[a]\r\n", "a", " New ", "v"),
            "[A]\r\nX=1\r\nNew=v\r\n\r\n;n\r\n[a]\r\n");
  EXPECT_EQ(IniAssign("[A]\nX=1", "A", "K", "v"), "[A]\nX=1\r\nK=v\r\n");
  // New sections go at the end.
  EXPECT_EQ(IniAssign("", "S", "K", ""), "[S]\r\nK=\r\n");
  EXPECT_EQ(IniAssign("[A]", "S", "K", "v"), "[A]\r\n[S]\r\nK=v\r\n");
  EXPECT_EQ(IniAssign("\xEF\xBB\xBF", "S", "K", "v"), "\xEF\xBB\xBF[S]\r\nK=v\r\n");
  // Every line of the key in its section goes, nothing else.
  EXPECT_EQ(IniRemove("[A]\r\nk=1\r\nX=2\nK = 3\n[B]\r\nK=4", "a", "K"), "[A]\r\nX=2\n[B]\r\nK=4");
  EXPECT_FALSE(IniRemove("[A]\r\nX=1\r\n[B]\r\nK=1\r\n", "A", "K"));
}

TEST(IniTextTest, WritesThatWouldChangeTheFilesMeaningAreRefused) {
  EXPECT_FALSE(IniWriteProblem("CHECK", "HistoryPath", "C:\\a b\\x.log"));
  for (const auto& [section, key, value] :
       std::vector<std::tuple<const char*, const char*, const char*>>{
           {"CHECK", "HistoryPath", "x\r\nLanguage=G"},
           {"CHECK", "HistoryPath", "x\n[COM]"},
           {"CHECK", "HistoryPath", "x\rY=1"},
           {"", "K", "v"},
           {"A]B", "K", "v"},
           {"CHECK", " ", "v"},
           {"CHECK", "a=b", "v"},
           {"CHECK", "[x", "v"},
           {"CHECK", ";x", "v"}})
    EXPECT_TRUE(IniWriteProblem(section, key, value)) << section << "/" << key << "/" << value;
}

class IniFileTest : public testing::Test {
 protected:
  TestFolder folder_;
  std::string path_ = folder_.File("korvamon.INI");
  IniFile ini_{path_};
};

TEST_F(IniFileTest, EachCallReadsTheFileAsItIsNow) {
  EXPECT_EQ(ini_.ReadString("COM", "USBPORT", "d"), "d");
  ini_.WriteString("COM", "USBPORT", "1");
  EXPECT_EQ(TestFolder::Get(path_), "[COM]\r\nUSBPORT=1\r\n");
  TestFolder::Put(path_, "[COM]\nusbport=\n");  // a hand edit counts at the next read
  EXPECT_EQ(ini_.ReadString("com", "USBPORT", "d"), "");
  EXPECT_TRUE(ini_.ValueExists("COM", "UsbPort"));
  ini_.DeleteKey("COM", "USBPORT");
  EXPECT_EQ(TestFolder::Get(path_), "[COM]\n");
  EXPECT_FALSE(ini_.ValueExists("COM", "USBPORT"));
}

TEST_F(IniFileTest, RefusedWritesLeaveTheFileByteForByte) {
  const std::string original = "[CHECK]\nHistoryPath = a\n";
  TestFolder::Put(path_, original);
  EXPECT_THROW(ini_.WriteString("CHECK", "HistoryPath", "x\r\nLanguage=G"), EIniFileException);
  TestFolder::MakeReadOnly(path_);
  try {
    ini_.WriteString("CHECK", "HistoryPath", "b");
    ADD_FAILURE() << "a read-only file was written";
  } catch (const EIniFileException& error) {
    const std::string message = error.what();
    for (const std::string& part : {path_, std::string("[CHECK]"), std::string("HistoryPath")})
      EXPECT_NE(message.find(part), std::string::npos) << message;
  }
  EXPECT_THROW(ini_.DeleteKey("CHECK", "HistoryPath"), EIniFileException);
  EXPECT_NO_THROW(ini_.DeleteKey("CHECK", "Missing"));
  EXPECT_EQ(TestFolder::Get(path_), original);

  const IniFile inMissingFolder(folder_.File("missing") + "/korvamon.INI");
  EXPECT_THROW(inMissingFolder.WriteString("COM", "USBPORT", "1"), EIniFileException);
  std::filesystem::create_directory(folder_.File("folder.INI"));
  EXPECT_THROW(IniFile(folder_.File("folder.INI")).WriteString("COM", "K", "1"), EIniFileException);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 2);
}

TEST_F(IniFileTest, AReplacementHeldUpByAnotherProgramIsTriedAgainAndAFailureNamesItsReason) {
  korva_test::FaultyFiles files;
  platform::ScopedService<platform::Files> guard(files);
  files.heldUp = 2;
  ini_.WriteString("COM", "USBPORT", "1");
  EXPECT_EQ(files.replacements, 3);
  const std::string written = "[COM]\r\nUSBPORT=1\r\n";
  EXPECT_EQ(TestFolder::Get(path_), written);

  struct Case {
    int heldUp;
    int refuseFrom;
    int tries;
    const char* reason;
  };
  for (const Case& c : {Case{IniFile::kReplaceTries, 0, IniFile::kReplaceTries,
                             "(The file is used by another process)"},
                        Case{0, 1, 1, "(Access is denied)"}}) {
    files.replacements = 0;
    files.heldUp = c.heldUp;
    files.refuseFrom = c.refuseFrom;
    try {
      ini_.WriteString("COM", "USBPORT", "0");
      ADD_FAILURE() << "written";
    } catch (const EIniFileException& error) {
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
    }
    EXPECT_EQ(files.replacements, c.tries);
    EXPECT_EQ(TestFolder::Get(path_), written);
  }
}

TEST_F(IniFileTest, SeveralValuesGoInOneReplacementAllOrNone) {
  korva_test::FaultyFiles files;
  platform::ScopedService<platform::Files> guard(files);
  ini_.WriteStrings({{"COM", "USBPORT", "0"}, {"COM", "COMPORT", "2"}, {"CHECK", "Language", "E"}});
  EXPECT_EQ(files.replacements, 1);
  const std::string saved = "[COM]\r\nUSBPORT=0\r\nCOMPORT=2\r\n[CHECK]\r\nLanguage=E\r\n";
  EXPECT_EQ(TestFolder::Get(path_), saved);

  // Refused, or with one value that cannot be written: none is.
  files.refuseFrom = 2;
  EXPECT_THROW(ini_.WriteStrings({{"COM", "USBPORT", "1"}, {"COM", "COMPORT", "3"}}),
               EIniFileException);
  files.refuseFrom = 0;
  EXPECT_THROW(ini_.WriteStrings({{"COM", "USBPORT", "1"}, {"COM", "Bad", "a\nb"}}),
               EIniFileException);
  EXPECT_EQ(files.replacements, 2);
  EXPECT_EQ(TestFolder::Get(path_), saved);
}

// The bytes of a UTF-16LE file with its mark.
std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

TEST_F(IniFileTest, AUtf16FileIsReadAndWrittenInUtf16) {
  // Beyond ASCII and a lone surrogate, which no conversion would keep.
  const std::u16string check = u"[CHECK]\r\nPfad=C:\\\u00DCber\\\xD800x\r\n";
  const std::string original = Utf16File(u"[COM]\r\nCOMPORT=3\r\n" + check) + "\x01";
  TestFolder::Put(path_, original);
  EXPECT_EQ(ini_.ReadString("COM", "COMPORT", "0"), "3");
  EXPECT_TRUE(ini_.ValueExists("check", "pfad"));

  // Written back in UTF-16 with its mark; the rest stays unit for unit, and
  // so does an odd last byte.
  ini_.WriteString("COM", "USBPORT", "0");
  EXPECT_EQ(TestFolder::Get(path_),
            Utf16File(u"[COM]\r\nCOMPORT=3\r\nUSBPORT=0\r\n" + check) + "\x01");
  ini_.DeleteKey("COM", "USBPORT");
  EXPECT_EQ(TestFolder::Get(path_), original);
#ifndef _WIN32
  // Text beyond ASCII goes through the platform's narrow encoding, UTF-8 here.
  ini_.WriteString("COM", "COMPORT", "\xC3\x9C");
  EXPECT_EQ(ini_.ReadString("COM", "COMPORT", ""), "\xC3\x9C");
  EXPECT_EQ(TestFolder::Get(path_), Utf16File(u"[COM]\r\nCOMPORT=\u00DC\r\n" + check) + "\x01");
#endif
}

// Writers change their own keys while readers read them all: every value seen
// was written whole, and no writer's last update is lost.
TEST_F(IniFileTest, ConcurrentReadersAndWritersNeverSeeATornFile) {
  constexpr int kWriters = 4, kRounds = 40;
  std::atomic<int> torn{0}, failed{0};
  std::atomic<bool> writing{true};
  std::vector<std::thread> writers, readers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int round = 0; round < kRounds; ++round) {
        try {
          ini_.WriteString("S", std::string("K").append(std::to_string(w)),
                           std::string(600, char('a' + round % 26)));
        } catch (const EIniFileException&) {
          ++failed;
        }
      }
    });
  }
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&, r] {
      for (int i = r; writing; ++i) {
        const std::string v =
            ini_.ReadString("S", std::string("K").append(std::to_string(i % kWriters)), "");
        if (!v.empty() && (v.size() != 600 || v.find_first_not_of(v[0]) != v.npos))
          ++torn;
      }
    });
  }
  for (auto& t : writers)
    t.join();
  writing = false;
  for (auto& t : readers)
    t.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(failed, 0);
  for (int w = 0; w < kWriters; ++w)
    EXPECT_TRUE(ini_.ReadString("S", "K" + std::to_string(w), "") ==
                std::string(600, char('a' + (kRounds - 1) % 26)));
}

}  // namespace
}  // namespace common
