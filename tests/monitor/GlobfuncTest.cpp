// Unit Globfunc: the settings file's place, the four operations on it, number
// conversion, the program-path check, the delay and the beep tune.
#include "monitor/Globfunc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <vector>

#include "IniTestFolder.h"
#include "TestEnvironment.h"

namespace monitor {
namespace {

using korva_test::IniTestFolder;

TEST(SettingsFilePathTest, ReplacesTheExtensionOfTheProgramsName) {
  EXPECT_EQ(SettingsFilePathFor("korvamon.exe"), "korvamon.INI");
  EXPECT_EQ(SettingsFilePathFor("C:\\Program Files\\Korva\\korvamon.exe"),
            "C:\\Program Files\\Korva\\korvamon.INI");
  EXPECT_EQ(SettingsFilePathFor("/opt/korva/korvamon"), "/opt/korva/korvamon.INI");
  EXPECT_EQ(SettingsFilePathFor("/opt/korva.v2/korvamon"), "/opt/korva.v2/korvamon.INI");
  EXPECT_EQ(SettingsFilePathFor("C:\\korva.v2\\korvamon"), "C:\\korva.v2\\korvamon.INI");
  EXPECT_EQ(SettingsFilePathFor("C:\\x\\korvamon.old.EXE"), "C:\\x\\korvamon.old.INI");
}

TEST(SettingsFilePathTest, TheFourOperationsUseTheInstalledPath) {
  const std::string beside = SettingsFilePath();
  EXPECT_TRUE(beside.ends_with(".INI")) << beside;

  IniTestFolder folder;
  const std::string path = folder.File("korvamon.INI");
  {
    ScopedSettingsFilePath guard(path);
    EXPECT_EQ(SettingsFilePath(), path);
    EXPECT_EQ(ReadIniString("CHECK", "Language", "none"), "none");
    WriteIniString("CHECK", "Language", "G");
    EXPECT_TRUE(IniValueExists("check", "LANGUAGE"));
    EXPECT_EQ(ReadIniString("CHECK", "Language", "none"), "G");
    EXPECT_THROW(WriteIniString("CHECK", "Language", "E\r\nUSBPORT=1"), EIniFileException);
    IniDeleteKey("CHECK", "Language");
    EXPECT_FALSE(IniValueExists("CHECK", "Language"));
    EXPECT_EQ(IniTestFolder::Get(path), "[CHECK]\r\n");
  }
  EXPECT_EQ(SettingsFilePath(), beside);
}

TEST(ParseIntegerTest, AcceptsOnlySignedDecimalsWithin32Bits) {
  EXPECT_EQ(ParseInteger("42"), 42);
  EXPECT_EQ(ParseInteger(" \t-7 "), -7);
  EXPECT_EQ(ParseInteger("+5"), 5);
  EXPECT_EQ(ParseInteger("007"), 7);
  EXPECT_EQ(ParseInteger("2147483647"), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ParseInteger("-2147483648"), std::numeric_limits<int32_t>::min());
  for (const char* notANumber :
       {"", " ", "+", "-", "2147483648", "-2147483649", "99999999999999999999", "1.5", "0x10",
        "$10", "1e3", "12a", "- 1", "1 2", "abc"}) {
    EXPECT_FALSE(ParseInteger(notANumber)) << '"' << notANumber << '"';
  }
  EXPECT_EQ(IntegerOr("abc", 30), 30);
  EXPECT_EQ(IntegerOr("-3", 30), -3);
}

class IsExecutablePathTest : public testing::Test {
 protected:
  IsExecutablePathTest() {
    std::filesystem::create_directories(folder_.path() / "tools.bat");
    std::filesystem::create_directories(folder_.path() / "dir.exe");
    IniTestFolder::Put(folder_.File("prog.exe"), "");
    IniTestFolder::Put((folder_.path() / "tools.bat" / "run.exe").string(), "");
    IniTestFolder::Put(folder_.File("readme"), "");
    IniTestFolder::Put(folder_.File("script.js"), "");
  }
  std::string Upper(std::string text) {
    for (char& c : text)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  }
  IniTestFolder folder_;
};

TEST_F(IsExecutablePathTest, CutsAfterTheFirstExtensionOfTheTableAndNeedsTheFile) {
  const std::string prog = folder_.File("prog.exe");
  EXPECT_TRUE(IsExecutablePath(prog));
  EXPECT_TRUE(IsExecutablePath(" \t" + prog + " /quiet --log=x.bat\r\n"));
  EXPECT_EQ(ProgramFileName(prog + " -a"), Upper(prog));

  // ".EXE" is tried before ".BAT", wherever each stands.
  const std::string inBatFolder = (folder_.path() / "tools.bat" / "run.exe").string();
  EXPECT_EQ(ProgramFileName(inBatFolder + " x"), Upper(inBatFolder));
  EXPECT_TRUE(IsExecutablePath(inBatFolder));
  EXPECT_TRUE(IsExecutablePath(folder_.File("script.js") + " arg"));

  EXPECT_FALSE(ProgramFileName(folder_.File("readme")));
  EXPECT_FALSE(IsExecutablePath(folder_.File("readme")));
  EXPECT_FALSE(IsExecutablePath(folder_.File("missing.exe")));
  EXPECT_FALSE(IsExecutablePath((folder_.path() / "dir.exe").string()));
  EXPECT_FALSE(IsExecutablePath(""));
  // The match is on the first ".EXE" even when a later one would name the file.
  EXPECT_FALSE(IsExecutablePath(folder_.File("missing.exe") + " " + prog));
}

class DelayAndTuneTest : public korva_test::VirtualTimeTest {};

TEST_F(DelayAndTuneTest, DelayMsHandlesMessagesAndMovesTimeExactly) {
  int posted = 0;
  int ticks = 0;
  loop().Post([&] { ++posted; });
  const auto timer = loop().SetTimer(300, [&] { ++ticks; });
  const uint64_t start = loop().NowMs();
  DelayMs(1000);
  EXPECT_EQ(loop().NowMs() - start, 1000u);
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(ticks, 3);

  loop().Post([&] { ++posted; });
  DelayMs(0);
  EXPECT_EQ(loop().NowMs() - start, 1000u);
  EXPECT_EQ(posted, 1);  // a zero wait handles nothing
  loop().KillTimer(timer);
}

TEST_F(DelayAndTuneTest, DelayMsWaitsOutItsTimeOnAnEndingLoop) {
  loop().Post([&] { loop().Terminate(); });
  const uint64_t start = loop().NowMs();
  DelayMs(65535);
  EXPECT_EQ(loop().NowMs() - start, 65535u);
  loop().ResetTerminated();
}

TEST_F(DelayAndTuneTest, TheTuneOfSeed102IsFixed) {
  using Tone = platform::RecordingSound::Tone;
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {750, 150}, {675, 150}, {525, 150}, {675, 150}, {525, 350}};
  int handled = 0;
  loop().Post([&] { ++handled; });
  for (int call = 0; call < 2; ++call) {
    sound_.Clear();
    const uint64_t start = loop().NowMs();
    PlayBeepPattern(102, 4);
    std::vector<std::pair<uint32_t, uint32_t>> played;
    for (const Tone& tone : sound_.tones())
      played.emplace_back(tone.frequencyHz, tone.durationMs);
    EXPECT_EQ(played, expected);
    EXPECT_EQ(loop().NowMs() - start, 950u);
  }
  EXPECT_EQ(handled, 1);

  sound_.Clear();
  PlayBeepPattern(102, 0);
  ASSERT_EQ(sound_.tones().size(), 1u);
  EXPECT_EQ(sound_.tones()[0].durationMs, 350u);
}

}  // namespace
}  // namespace monitor
