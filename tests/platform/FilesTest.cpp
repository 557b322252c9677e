#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "TestFolder.h"

#include "platform/DynamicLibrary.h"
#include "platform/Files.h"
#include "platform/MessageBoxes.h"
#include "platform/NamedMutex.h"
#include "platform/Services.h"

#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on
#else
#include <sys/stat.h>

#include <cerrno>
#endif

namespace {

namespace fs = std::filesystem;

class FilesTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return folder_.File(name); }

  platform::Files& files = platform::files();
  korva_test::TestFolder folder_;
  const fs::path& dir_ = folder_.path();
};

TEST_F(FilesTest, MissingFileReadsAsNothingAndInvalidAttributes) {
  EXPECT_FALSE(files.ReadAll(Path("absent.ini")).has_value());
  EXPECT_EQ(files.GetAttributes(Path("absent.ini")), platform::kInvalidFileAttributes);
  EXPECT_FALSE(files.SetAttributes(Path("absent.ini"), platform::kFileAttributeReadOnly));
}

TEST_F(FilesTest, ReplaceAllWritesBytesExactlyAndLeavesNoTemporaryFile) {
  const std::string bytes = std::string("[A]\r\nkey=1\r\n\nraw\0byte\xff", 22);
  ASSERT_TRUE(files.ReplaceAll(Path("s.ini"), bytes));
  EXPECT_EQ(files.ReadAll(Path("s.ini")), bytes);
  ASSERT_TRUE(files.ReplaceAll(Path("s.ini"), "short"));
  EXPECT_EQ(files.ReadAll(Path("s.ini")), "short");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

#ifdef _WIN32
TEST_F(FilesTest, AReplacementHeldUpByAnotherProgramSaysSoAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(files.ReplaceAll(Path("s.ini"), "old"));
  // Another program holds the file open, sharing nothing.
  HANDLE held = CreateFileA(Path("s.ini").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(files.ReplaceAll(Path("s.ini"), "new"));
  const platform::FileError error = files.LastError();
  EXPECT_TRUE(error.transient) << error.code;
  EXPECT_FALSE(error.reason.empty());
  CloseHandle(held);
  EXPECT_EQ(files.ReadAll(Path("s.ini")), "old");
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".korva-"), std::string::npos);
  ASSERT_TRUE(files.ReplaceAll(Path("s.ini"), "new"));
  EXPECT_EQ(files.ReadAll(Path("s.ini")), "new");
}

// A device is known by its name and never opened; a link stays and the
// file it leads to takes the bytes.
TEST_F(FilesTest, ReplaceAllWritesNoDeviceAndWritesWhereALinkLeads) {
  for (const std::string& name : {std::string("nul"), Path("NUL.log"), std::string("CON"),
                                  std::string("\\\\.\\pipe\\korva-none")}) {
    EXPECT_FALSE(files.ReplaceAll(name, "x")) << name;
    EXPECT_EQ(files.LastError().reason, "Not a regular file") << name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 0);

  korva_test::TestFolder outside;
  const fs::path target = outside.path() / "target.log";
  std::ofstream(target) << "old";
  std::error_code linked;
  fs::create_symlink(target, Path("link.log"), linked);
  if (linked)
    GTEST_SKIP() << "no symbolic links here: " << linked.message();
  ASSERT_TRUE(files.ReplaceAll(Path("link.log"), "new")) << files.LastError().reason;
  EXPECT_TRUE(fs::is_symlink(Path("link.log")));
  EXPECT_EQ(korva_test::TestFolder::Get(target.string()), "new");
}
#else
TEST_F(FilesTest, ReplaceAllNeverWritesThroughALinkPlantedBesideItsTargetAndKeepsItsMode) {
  korva_test::TestFolder outside;
  const fs::path victim = outside.path() / "victim";
  std::ofstream(victim) << "untouched";
  ASSERT_TRUE(files.ReplaceAll(Path("s.ini"), "old"));
  fs::permissions(Path("s.ini"), fs::perms(0640));
  // The name a fixed temporary file would have had, taken by a link.
  fs::create_symlink(victim, Path("s.ini") + ".korva-tmp");
  ASSERT_TRUE(files.ReplaceAll(Path("s.ini"), "new"));
  EXPECT_EQ(korva_test::TestFolder::Get(victim.string()), "untouched");
  EXPECT_EQ(files.ReadAll(Path("s.ini")), "new");
  EXPECT_EQ(fs::status(Path("s.ini")).permissions(), fs::perms(0640));
  EXPECT_TRUE(fs::is_symlink(Path("s.ini") + ".korva-tmp"));

  // A replacement that fails (the target is a folder) leaves no temporary file.
  fs::create_directories(dir_ / "taken" / "inside");
  EXPECT_FALSE(files.ReplaceAll((dir_ / "taken").string(), "x"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

// A link stays a link and its file takes the bytes, through a chain of
// links too, relative or absolute, and a link to nothing makes that file;
// what is no regular file is never replaced.
TEST_F(FilesTest, ReplaceAllWritesWhereALinkLeadsAndOnlyOverRegularFiles) {
  korva_test::TestFolder outside;
  const fs::path target = outside.path() / "target.log";
  std::ofstream(target) << "old";
  fs::permissions(target, fs::perms(0640));
  fs::create_symlink(target, Path("direct.log"));
  fs::create_symlink("direct.log", Path("chain.log"));
  for (const char* name : {"direct.log", "chain.log"}) {
    ASSERT_TRUE(files.ReplaceAll(Path(name), name)) << name;
    EXPECT_TRUE(fs::is_symlink(Path(name))) << name;
    EXPECT_EQ(korva_test::TestFolder::Get(target.string()), name);
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
  }
  fs::create_symlink(outside.path() / "new.log", Path("dangling.log"));
  ASSERT_TRUE(files.ReplaceAll(Path("dangling.log"), "made"));
  EXPECT_TRUE(fs::is_symlink(Path("dangling.log")));
  EXPECT_EQ(korva_test::TestFolder::Get((outside.path() / "new.log").string()), "made");

  fs::create_symlink("loop.log", Path("loop.log"));
  EXPECT_FALSE(files.ReplaceAll(Path("loop.log"), "x"));
  EXPECT_EQ(files.LastError().code, static_cast<uint32_t>(ELOOP));
  EXPECT_TRUE(fs::is_symlink(Path("loop.log")));

  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  fs::create_symlink(Path("pipe"), Path("to-pipe.log"));
  for (const char* name : {"pipe", "to-pipe.log"}) {
    EXPECT_FALSE(files.ReplaceAll(Path(name), "x")) << name;
    EXPECT_EQ(files.LastError().reason, "Not a regular file");
  }
  EXPECT_TRUE(fs::is_fifo(Path("pipe")));
  EXPECT_TRUE(fs::is_symlink(Path("to-pipe.log")));
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".korva-"), std::string::npos);
}
#endif

TEST_F(FilesTest, LastWriteTimeIsNowForAFreshFileAndNothingForAMissingOne) {
  ASSERT_TRUE(files.ReplaceAll(Path("s.ini"), "x"));
  const auto written = files.LastWriteTime(Path("s.ini"));
  ASSERT_TRUE(written.has_value());
  const auto apart = std::chrono::abs(std::chrono::system_clock::now() - *written);
  EXPECT_LT(apart, std::chrono::minutes(5));
  EXPECT_FALSE(files.LastWriteTime(Path("absent.ini")).has_value());
}

TEST_F(FilesTest, ReadOnlyAttributeRoundTripsWithArchive) {
  ASSERT_TRUE(files.ReplaceAll(Path("s.ini"), "x"));
  EXPECT_EQ(files.GetAttributes(Path("s.ini")) & platform::kFileAttributeReadOnly, 0u);
  ASSERT_TRUE(files.SetAttributes(
      Path("s.ini"), platform::kFileAttributeReadOnly | platform::kFileAttributeArchive));
  EXPECT_EQ(files.GetAttributes(Path("s.ini")),
            platform::kFileAttributeReadOnly | platform::kFileAttributeArchive);
  ASSERT_TRUE(files.SetAttributes(Path("s.ini"), platform::kFileAttributeArchive));
  EXPECT_EQ(files.GetAttributes(Path("s.ini")) & platform::kFileAttributeReadOnly, 0u);
  EXPECT_EQ(files.GetAttributes(dir_.string()) & platform::kFileAttributeDirectory,
            platform::kFileAttributeDirectory);
}

TEST_F(FilesTest, AppendCreatesExtendsAndRefusesAReadOnlyFile) {
  ASSERT_TRUE(files.AppendAll(Path("h.log"), "one\r\n").ok());
  ASSERT_TRUE(files.AppendAll(Path("h.log"), std::string("t\0o\r\n", 5)).ok());
  const std::string both = std::string("one\r\nt\0o\r\n", 10);
  EXPECT_EQ(files.ReadAll(Path("h.log")), both);
  EXPECT_EQ(files.FileSize(Path("h.log")), both.size());
  EXPECT_FALSE(files.FileSize(Path("absent.log")).has_value());
  EXPECT_FALSE(files.FileSize(dir_.string()).has_value());

  ASSERT_TRUE(files.SetAttributes(Path("h.log"), platform::kFileAttributeReadOnly));
  EXPECT_FALSE(files.AppendAll(Path("h.log"), "lost").written);
  EXPECT_EQ(files.ReadAll(Path("h.log")), both);
  EXPECT_FALSE(files.AppendAll(Path("no-such-folder/h.log"), "x").written);
}

TEST_F(FilesTest, ReadRangeGivesWhatLiesWithinTheFile) {
  ASSERT_TRUE(files.ReplaceAll(Path("r.log"), "0123456789"));
  EXPECT_EQ(files.ReadRange(Path("r.log"), 3, 4), "3456");
  EXPECT_EQ(files.ReadRange(Path("r.log"), 7, 100), "789");
  EXPECT_EQ(files.ReadRange(Path("r.log"), 10, 5), "");
  EXPECT_EQ(files.ReadRange(Path("r.log"), 1000, 5), "");
  EXPECT_FALSE(files.ReadRange(Path("absent.log"), 0, 5).has_value());
}

TEST_F(FilesTest, RenameReplacingReplacesAWritableFileButNeverAReadOnlyOne) {
  ASSERT_TRUE(files.ReplaceAll(Path("a.BAK"), "new"));
  ASSERT_TRUE(files.ReplaceAll(Path("a.log"), "old"));
  ASSERT_TRUE(files.RenameReplacing(Path("a.BAK"), Path("a.log")));
  EXPECT_EQ(files.ReadAll(Path("a.log")), "new");
  EXPECT_FALSE(files.ReadAll(Path("a.BAK")).has_value());

  ASSERT_TRUE(files.ReplaceAll(Path("b.BAK"), "newer"));
  ASSERT_TRUE(files.SetAttributes(Path("a.log"), platform::kFileAttributeReadOnly));
  EXPECT_FALSE(files.RenameReplacing(Path("b.BAK"), Path("a.log")));
  EXPECT_EQ(files.ReadAll(Path("a.log")), "new");
  EXPECT_EQ(files.ReadAll(Path("b.BAK")), "newer");
  EXPECT_FALSE(files.RenameReplacing(Path("absent.BAK"), Path("c.log")));
}

TEST_F(FilesTest, PathsMatchWithoutRegardToCaseAndWithBackslashes) {
  fs::create_directories(dir_ / "Lang" / "ENG");
  std::ofstream(dir_ / "Lang" / "ENG" / "english.dll") << "table";
  const std::string asWindowsWrites = (dir_ / "lang").string() + "\\eng\\ENGLISH.DLL";
  EXPECT_EQ(files.ReadAll(asWindowsWrites), "table");
  EXPECT_NE(files.GetAttributes(asWindowsWrites), platform::kInvalidFileAttributes);
}

TEST(NamedMutexTest, SecondHolderSeesItExistsUntilAllHoldersClose) {
  const std::string name = "KORVA-TEST-" + std::to_string(std::random_device{}());
  {
    auto first = platform::NamedMutex::Create(name);
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(first.alreadyExisted());
    auto second = platform::NamedMutex::Create(name);
    EXPECT_TRUE(second.valid());
    EXPECT_TRUE(second.alreadyExisted());
  }
  auto again = platform::NamedMutex::Create(name);
  EXPECT_FALSE(again.alreadyExisted());
}

#ifdef _WIN32
TEST(NamedMutexTest, AMutexWeMayNotOpenCountsAsTaken) {
  // As an elevated first instance leaves it to a standard user: nobody may open it.
  const std::string name = "KORVA-TEST-" + std::to_string(std::random_device{}());
  PSECURITY_DESCRIPTOR noAccess = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:", SDDL_REVISION_1, &noAccess,
                                                                   nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, noAccess, FALSE};
  HANDLE held = CreateMutexA(&attributes, TRUE, name.c_str());
  LocalFree(noAccess);
  ASSERT_NE(held, nullptr);
  auto second = platform::NamedMutex::Create(name);
  EXPECT_FALSE(second.valid());
  EXPECT_TRUE(second.alreadyExisted());
  CloseHandle(held);
}
#endif

TEST(DynamicLibraryTest, MissingLibraryAndSymbolGiveNothing) {
  auto missing = platform::DynamicLibrary::Open("no-such-library-korva.dll");
  EXPECT_FALSE(missing);
  EXPECT_EQ(missing.Failure(), platform::LoadFailure::NotFound);
  EXPECT_EQ(missing.Symbol("anything"), nullptr);
#ifdef _WIN32
  auto present = platform::DynamicLibrary::Open("kernel32.dll");
  const char* symbol = "GetTickCount";
#else
  auto present = platform::DynamicLibrary::Open("libc.so.6");
  const char* symbol = "strlen";
#endif
  ASSERT_TRUE(present);
  EXPECT_EQ(present.Failure(), platform::LoadFailure::None);
  EXPECT_NE(present.Symbol(symbol), nullptr);
  EXPECT_EQ(present.Symbol("no_such_symbol_korva"), nullptr);
  auto moved = std::move(present);
  EXPECT_FALSE(present);
  EXPECT_TRUE(moved);
}

TEST(DynamicLibraryTest, ALibraryForAnotherProcessorIsToldApartAndABareNameIsSearchedSafely) {
  korva_test::TestFolder folder;
  const std::string name = "korva-other-processor.dll";
  korva_test::PutOtherProcessorLibrary(folder.File(name));
  EXPECT_EQ(platform::DynamicLibrary::Open(folder.File(name)).Failure(),
            platform::LoadFailure::WrongArchitecture);
#ifdef _WIN32
  // In the current folder and on PATH, where anyone may put a library of
  // that name, a bare name is not looked for.
  char previousFolder[MAX_PATH + 1] = {};
  GetCurrentDirectoryA(MAX_PATH, previousFolder);
  std::string previousPath(32767, '\0');
  previousPath.resize(GetEnvironmentVariableA("PATH", previousPath.data(), 32767));
  SetCurrentDirectoryA(folder.path().string().c_str());
  SetEnvironmentVariableA("PATH", (folder.path().string() + ";" + previousPath).c_str());
  const platform::LoadFailure bare = platform::DynamicLibrary::Open(name).Failure();
  SetEnvironmentVariableA("PATH", previousPath.c_str());
  SetCurrentDirectoryA(previousFolder);
  EXPECT_EQ(bare, platform::LoadFailure::NotFound);
#endif
}

TEST(ScriptedMessageBoxesTest, AnswersFromScriptThenWithDefaultButton) {
  platform::ScriptedMessageBoxes boxes;
  boxes.QueueAnswer(platform::kIdNo);
  EXPECT_EQ(boxes.Show("a", "c", platform::kMbYesNo), platform::kIdNo);
  EXPECT_EQ(boxes.Show("b", "c", platform::kMbYesNo | platform::kMbIconWarning), platform::kIdYes);
  EXPECT_EQ(boxes.Show("d", "c", platform::kMbYesNo | platform::kMbDefButton2), platform::kIdNo);
  EXPECT_EQ(boxes.Show("e", "c", platform::kMbOk | platform::kMbIconError), platform::kIdOk);
  ASSERT_EQ(boxes.shown().size(), 4u);
  EXPECT_EQ(boxes.shown()[0].text, "a");
  // The system's boxes come to the foreground, also raised from the tray.
  EXPECT_EQ(platform::NativeBoxStyle(platform::kMbOk | platform::kMbIconError),
            platform::kMbOk | platform::kMbIconError | platform::kMbSetForeground);
}

}  // namespace
