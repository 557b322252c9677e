// The profile-file engine: lookup rules, in-place edits, refused writes that
// leave the file as it was, and many threads on one file.
#include "monitor/IniFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "IniTestFolder.h"
#include "platform/Files.h"
#include "platform/Services.h"

namespace monitor {
namespace {

using korva_test::IniTestFolder;

std::string Lookup(std::string_view text, std::string_view section, std::string_view key) {
  return IniLookup(text, section, key).value_or("<missing>");
}

TEST(IniLookupTest, NamesMatchWithoutCaseAndTheFirstMatchWins) {
  const std::string text =
      "[com]\r\nUSBport=1\r\nusbPORT=2\r\n"
      "[COM]\r\nCOMPORT=3\r\n"
      "[Check]\r\nHistoryPath=x\r\n";
  EXPECT_EQ(Lookup(text, "COM", "USBPORT"), "1");
  EXPECT_EQ(Lookup(text, "CHECK", "historypath"), "x");
  // Only the first section of a name counts.
  EXPECT_EQ(Lookup(text, "COM", "COMPORT"), "<missing>");
  EXPECT_EQ(Lookup(text, "START", "COMPORT"), "<missing>");
  EXPECT_EQ(Lookup("", "COM", "USBPORT"), "<missing>");
}

TEST(IniLookupTest, ValuesAreTrimmedUnquotedAndKeptWhole) {
  const std::string text =
      "[S]\n"
      " \tPadded\t =  a b \t\n"
      "Comment = 1 ; not a comment\n"
      "Double=\" quoted \"\n"
      "Single='x'\n"
      "Mixed=\"x'\n"
      "Lone=\"\n"
      "Empty=\n"
      "EmptyQuotes=\"\"\n"
      "Equals=a=b\n";
  EXPECT_EQ(Lookup(text, "S", "Padded"), "a b");
  EXPECT_EQ(Lookup(text, "S", " padded "), "a b");
  EXPECT_EQ(Lookup(text, "S", "Comment"), "1 ; not a comment");
  EXPECT_EQ(Lookup(text, "S", "Double"), " quoted ");
  EXPECT_EQ(Lookup(text, "S", "Single"), "x");
  EXPECT_EQ(Lookup(text, "S", "Mixed"), "\"x'");
  EXPECT_EQ(Lookup(text, "S", "Lone"), "\"");
  // Present but empty is "", not missing.
  EXPECT_EQ(Lookup(text, "S", "Empty"), "");
  EXPECT_EQ(Lookup(text, "S", "EmptyQuotes"), "");
  EXPECT_EQ(Lookup(text, "S", "Equals"), "a=b");
}

TEST(IniLookupTest, LineEndsMarkCommentsAndLinesWithoutEquals) {
  const std::string text =
      "\xEF\xBB\xBF[First]\nA=1\r\nB=2\rC=3\r\n"
      ";D=4\r\n"
      "E\r\n"
      "=5\r\n"
      "[ Spaced ] trailing\r\n"
      "F=6";
  EXPECT_EQ(Lookup(text, "First", "A"), "1");
  EXPECT_EQ(Lookup(text, "First", "B"), "2");
  EXPECT_EQ(Lookup(text, "First", "C"), "3");
  EXPECT_EQ(Lookup(text, "First", "D"), "<missing>");
  EXPECT_EQ(Lookup(text, "First", ";D"), "<missing>");
  EXPECT_EQ(Lookup(text, "First", "E"), "<missing>");
  EXPECT_EQ(Lookup(text, "Spaced", "F"), "6");
  // Keys before the first section belong to none.
  EXPECT_EQ(Lookup("A=1\r\n[S]\r\n", "S", "A"), "<missing>");
}

TEST(IniLookupTest, LongValuesAreCutAt2047Characters) {
  const std::string exact(2047, 'a');
  const std::string longer = std::string(2047, 'b') + "cdef";
  EXPECT_EQ(Lookup("[S]\r\nK=" + exact + "\r\n", "S", "K"), exact);
  EXPECT_EQ(Lookup("[S]\r\nK=" + longer + "\r\n", "S", "K"), std::string(2047, 'b'));
}

TEST(IniAssignTest, ReplacesInPlaceKeepingSpellingAndEveryOtherByte) {
  const std::string text =
      "; hand-written\n[check]\n  historyPATH = old  \nOther=1\n[START]\r\nX=2\r\n";
  EXPECT_EQ(IniAssign(text, "CHECK", "HistoryPath", "C:\\new.log"),
            "; hand-written\n[check]\nhistoryPATH=C:\\new.log\nOther=1\n[START]\r\nX=2\r\n");
  // A duplicate key: the first is the one read, so the first is replaced.
  EXPECT_EQ(IniAssign("[S]\r\nK=1\r\nk=2\r\n", "s", "K", "3"), "[S]\r\nK=3\r\nk=2\r\n");
}

TEST(IniAssignTest, NewKeysFollowTheLastKeyOfTheirSection) {
  EXPECT_EQ(IniAssign("[A]\r\nX=1\r\n\r\n; note\r\n[B]\r\nY=2\r\n", "a", "New", "v"),
            "[A]\r\nX=1\r\nNew=v\r\n\r\n; note\r\n[B]\r\nY=2\r\n");
  EXPECT_EQ(IniAssign("[A]\n\n[B]\n", "A", "K", "v"), "[A]\nK=v\r\n\n[B]\n");
  // The last line may lack its line break.
  EXPECT_EQ(IniAssign("[A]\r\nX=1", "A", "K", "v"), "[A]\r\nX=1\r\nK=v\r\n");
  // A later section of the same name is never written to.
  EXPECT_EQ(IniAssign("[A]\r\n[B]\r\n[a]\r\nK=1\r\n", "A", "K", "2"),
            "[A]\r\nK=2\r\n[B]\r\n[a]\r\nK=1\r\n");
}

TEST(IniAssignTest, NewSectionsGoAtTheEnd) {
  EXPECT_EQ(IniAssign("", "S", "K", "v"), "[S]\r\nK=v\r\n");
  EXPECT_EQ(IniAssign("[A]\nX=1", "S", " K ", ""), "[A]\nX=1\r\n[S]\r\nK=\r\n");
  EXPECT_EQ(IniAssign("\xEF\xBB\xBF", "S", "K", "v"), "\xEF\xBB\xBF[S]\r\nK=v\r\n");
  EXPECT_EQ(IniAssign("\xEF\xBB\xBF[S]\r\n", "s", "K", "v"), "\xEF\xBB\xBF[S]\r\nK=v\r\n");
}

TEST(IniRemoveTest, RemovesEveryLineOfTheKeyInItsSectionOnly) {
  EXPECT_EQ(IniRemove("[A]\r\nk=1\r\nX=2\nK = 3\n[B]\r\nK=4\r\n", "a", "K"),
            "[A]\r\nX=2\n[B]\r\nK=4\r\n");
  EXPECT_EQ(IniRemove("[A]\r\nK=1", "A", "K"), "[A]\r\n");
  EXPECT_FALSE(IniRemove("[A]\r\nX=1\r\n", "A", "K"));
  EXPECT_FALSE(IniRemove("[B]\r\nK=1\r\n", "A", "K"));
}

TEST(IniWriteProblemTest, RefusesWhatWouldChangeTheFilesMeaning) {
  EXPECT_FALSE(IniWriteProblem("CHECK", "HistoryPath", "C:\\a b\\x.log"));
  EXPECT_FALSE(IniWriteProblem("CHECK", "Key", ""));
  EXPECT_TRUE(IniWriteProblem("CHECK", "HistoryPath", "x\r\nLanguage=G"));
  EXPECT_TRUE(IniWriteProblem("CHECK", "HistoryPath", "x\nLanguage=G"));
  EXPECT_TRUE(IniWriteProblem("CHECK", "HistoryPath", "x\r[START]"));
  EXPECT_TRUE(IniWriteProblem("", "Key", "v"));
  EXPECT_TRUE(IniWriteProblem("A]B", "Key", "v"));
  EXPECT_TRUE(IniWriteProblem("A\nB", "Key", "v"));
  EXPECT_TRUE(IniWriteProblem("CHECK", " ", "v"));
  EXPECT_TRUE(IniWriteProblem("CHECK", "a=b", "v"));
  EXPECT_TRUE(IniWriteProblem("CHECK", "[x", "v"));
  EXPECT_TRUE(IniWriteProblem("CHECK", ";x", "v"));
}

class IniFileTest : public testing::Test {
 protected:
  IniTestFolder folder_;
  std::string path_ = folder_.File("korvamon.INI");
  IniFile ini_{path_};
};

TEST_F(IniFileTest, EachCallReadsTheFileAsItIsNow) {
  EXPECT_EQ(ini_.ReadString("COM", "USBPORT", "dflt"), "dflt");
  EXPECT_FALSE(ini_.ValueExists("COM", "USBPORT"));
  ini_.WriteString("COM", "USBPORT", "1");
  EXPECT_EQ(IniTestFolder::Get(path_), "[COM]\r\nUSBPORT=1\r\n");
  EXPECT_EQ(ini_.ReadString("com", "usbport", "dflt"), "1");
  // A hand edit counts at the next read.
  IniTestFolder::Put(path_, "[COM]\nUSBPORT=\n");
  EXPECT_EQ(ini_.ReadString("COM", "USBPORT", "dflt"), "");
  EXPECT_TRUE(ini_.ValueExists("COM", "usbPort"));
  ini_.DeleteKey("COM", "USBPORT");
  EXPECT_EQ(IniTestFolder::Get(path_), "[COM]\n");
  ini_.DeleteKey("COM", "USBPORT");  // nothing to delete is no error
}

TEST_F(IniFileTest, RefusedWritesLeaveTheFileByteForByte) {
  const std::string original = "[CHECK]\nHistoryPath = a\n";
  IniTestFolder::Put(path_, original);
  IniTestFolder::MakeReadOnly(path_);
  try {
    ini_.WriteString("CHECK", "HistoryPath", "b");
    FAIL() << "a read-only file was written";
  } catch (const EIniFileException& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(path_), std::string::npos) << message;
    EXPECT_NE(message.find("[CHECK]"), std::string::npos) << message;
    EXPECT_NE(message.find("\"HistoryPath\""), std::string::npos) << message;
    EXPECT_NE(message.find("read-only"), std::string::npos) << message;
  }
  EXPECT_THROW(ini_.WriteString("START", "New", "1"), EIniFileException);
  EXPECT_THROW(ini_.DeleteKey("CHECK", "HistoryPath"), EIniFileException);
  EXPECT_NO_THROW(ini_.DeleteKey("CHECK", "Missing"));
  EXPECT_EQ(IniTestFolder::Get(path_), original);

  // A line break in a value would add a key of its own: refused, not cut.
  const std::string writable = folder_.File("other.INI");
  IniTestFolder::Put(writable, original);
  IniFile other(writable);
  EXPECT_THROW(other.WriteString("CHECK", "HistoryPath", "x\r\nLanguage=G"), EIniFileException);
  EXPECT_THROW(other.WriteString("CHECK", "HistoryPath", "x\n[COM]"), EIniFileException);
  EXPECT_EQ(IniTestFolder::Get(writable), original);
  EXPECT_FALSE(other.ValueExists("CHECK", "Language"));
}

TEST_F(IniFileTest, UnopenablePathsFailWithoutCreatingAnything) {
  IniFile inMissingFolder(folder_.File("missing") + "/korvamon.INI");
  EXPECT_THROW(inMissingFolder.WriteString("COM", "USBPORT", "1"), EIniFileException);
  EXPECT_EQ(inMissingFolder.ReadString("COM", "USBPORT", "d"), "d");

  const std::string folderPath = folder_.File("folder.INI");
  std::filesystem::create_directory(folderPath);
  IniFile aFolder(folderPath);
  EXPECT_THROW(aFolder.WriteString("COM", "USBPORT", "1"), EIniFileException);
  EXPECT_EQ(aFolder.ReadString("COM", "USBPORT", "d"), "d");

  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.path()))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"folder.INI"});
}

// Writers change their own keys while readers read all of them: every value a
// reader sees is one that was written whole, and no writer's update is lost.
TEST_F(IniFileTest, ConcurrentReadersAndWritersNeverSeeATornFile) {
  constexpr int kWriters = 4;
  constexpr int kRounds = 40;
  std::atomic<int> torn{0};
  std::atomic<int> failed{0};
  std::atomic<bool> writing{true};
  auto whole = [](const std::string& value) {
    return value.empty() ||
           (value.size() == 600 && value.find_first_not_of(value[0]) == value.npos);
  };
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int round = 0; round < kRounds; ++round) {
        try {
          ini_.WriteString("S", "K" + std::to_string(w), std::string(600, char('a' + round % 26)));
        } catch (const EIniFileException&) {
          ++failed;
        }
      }
    });
  }
  for (int r = 0; r < 3; ++r) {
    threads.emplace_back([&, r] {
      for (int i = 0; writing || i < 10; ++i) {
        if (!whole(ini_.ReadString("S", "K" + std::to_string((i + r) % kWriters), "")))
          ++torn;
      }
    });
  }
  for (int w = 0; w < kWriters; ++w)
    threads[static_cast<std::size_t>(w)].join();
  writing = false;
  for (std::size_t t = kWriters; t < threads.size(); ++t)
    threads[t].join();

  EXPECT_EQ(torn, 0);
  EXPECT_EQ(failed, 0);
  const std::string last(600, char('a' + (kRounds - 1) % 26));
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(ini_.ReadString("S", "K" + std::to_string(w), ""), last);
}

}  // namespace
}  // namespace monitor
