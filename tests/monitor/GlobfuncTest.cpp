// Unit Globfunc: the settings file's place, number conversion, the
// program-path check, the delay and the beep tune.
#include "monitor/Globfunc.h"

#include <vector>

#include "TestEnvironment.h"
#include "TestFolder.h"

namespace monitor {
namespace {

using korva_test::TestFolder;

TEST(GlobfuncTest, TheSettingsFileIsTheProgramWithTheExtensionINI) {
  EXPECT_EQ(SettingsFilePathFor("korvamon.exe"), "korvamon.INI");
  EXPECT_EQ(SettingsFilePathFor("C:\\Korva\\korvamon.old.EXE"), "C:\\Korva\\korvamon.old.INI");
  EXPECT_EQ(SettingsFilePathFor("/opt/korva.v2/korvamon"), "/opt/korva.v2/korvamon.INI");
  EXPECT_EQ(SettingsFilePathFor("C:\\korva.v2\\korvamon"), "C:\\korva.v2\\korvamon.INI");
}

TEST(GlobfuncTest, NumbersAreSignedDecimalsWithin32Bits) {
  EXPECT_EQ(ParseInteger(" \t-7 "), -7);
  EXPECT_EQ(ParseInteger("+007"), 7);
  EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseInteger("-2147483648"), -2147483647 - 1);
  for (const char* text : {"", "+", "-", "2147483648", "-2147483649", "99999999999999999999", "1.5",
                           "0x10", "$10", "1e3", "12a", "- 1", "1 2"})
    EXPECT_FALSE(ParseInteger(text)) << '"' << text << '"';
  EXPECT_EQ(IntegerOr("abc", 30), 30);
}

TEST(GlobfuncTest, IsExecutablePathCutsAtTheFirstExtensionOfTheTable) {
  TestFolder folder;
  std::filesystem::create_directories(folder.path() / "tools.bat");
  std::filesystem::create_directories(folder.path() / "dir.exe");
  const std::string prog = folder.File("prog.exe");
  const std::string inBatFolder = (folder.path() / "tools.bat" / "run.exe").string();
  for (const std::string& file : {prog, inBatFolder, folder.File("readme"), folder.File("s.js")})
    TestFolder::Put(file, "");

  EXPECT_TRUE(IsExecutablePath(" \t" + prog + " /quiet --log=x.bat\r\n"));
  std::string upper = inBatFolder;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(ProgramFileName(inBatFolder + " x"), upper);  // ".EXE" is tried before ".BAT"
  EXPECT_TRUE(IsExecutablePath(inBatFolder));
  EXPECT_TRUE(IsExecutablePath(folder.File("s.js") + " arg"));
  EXPECT_FALSE(IsExecutablePath(folder.File("readme")));
  EXPECT_FALSE(IsExecutablePath(folder.File("missing.exe") + " " + prog));
  EXPECT_FALSE(IsExecutablePath((folder.path() / "dir.exe").string()));
  EXPECT_FALSE(IsExecutablePath(""));
}

TEST(GlobfuncTest, AnExtensionCountsOnlyWhereTheFileNameEnds) {
  EXPECT_EQ(ProgramFileName("C:\\my.company\\run.bat"), "C:\\MY.COMPANY\\RUN.BAT");
  EXPECT_EQ(ProgramFileName("x.json"), std::nullopt);
  EXPECT_EQ(ProgramFileName("x.json run.js"), "X.JSON RUN.JS");
  EXPECT_EQ(ProgramFileName("tool.exe\t-v"), "TOOL.EXE");
  EXPECT_EQ(ProgramFileName("c.comx c.com"), "C.COMX C.COM");

  TestFolder folder;
  std::filesystem::create_directories(folder.path() / "my.company");
  TestFolder::Put((folder.path() / "my.company" / "run.bat").string(), "");
  TestFolder::Put(folder.File("x.json"), "");
  EXPECT_TRUE(IsExecutablePath((folder.path() / "my.company" / "run.bat").string() + " /q"));
  EXPECT_FALSE(IsExecutablePath(folder.File("x.json")));
}

using DelayAndTuneTest = korva_test::VirtualTimeTest;

TEST_F(DelayAndTuneTest, DelayMsHandlesMessagesAndMovesTimeExactly) {
  int posted = 0, ticks = 0;
  loop().Post([&] { ++posted; });
  const auto timer = loop().SetTimer(300, [&] { ++ticks; });
  const uint64_t start = loop().NowMs();
  DelayMs(1000);
  EXPECT_EQ(loop().NowMs() - start, 1000u);
  EXPECT_EQ(posted, 1);
  EXPECT_EQ(ticks, 3);
  loop().KillTimer(timer);

  // An ending loop handles nothing more, but the wait still lasts its time.
  loop().Post([&] { loop().Terminate(); });
  DelayMs(65535);
  EXPECT_EQ(loop().NowMs() - start, 1000u + 65535u);
  loop().ResetTerminated();
}

TEST_F(DelayAndTuneTest, TheTuneOfSeed102IsFixed) {
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {750, 150}, {675, 150}, {525, 150}, {675, 150}, {525, 350}};
  int handled = 0;
  loop().Post([&] { ++handled; });
  for (int call = 0; call < 2; ++call) {
    sound_.Clear();
    const uint64_t start = loop().NowMs();
    PlayBeepPattern(102, 4);
    EXPECT_EQ(Tones(), expected);
    EXPECT_EQ(loop().NowMs() - start, 950u);
  }
  EXPECT_EQ(handled, 1);
}

}  // namespace
}  // namespace monitor
