// Facts about the system: the program's own version resource, text in the
// system's code page, the short date, and the system's request to end the program.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "TestEnvironment.h"
#include "platform/System.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

using namespace std::chrono;

// ---- the version block ----

uint32_t Word(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

// As the block holds its strings: two bytes a character, the second zero.
std::string Utf16(const std::string& text) {
  std::string wide;
  for (char c : text)
    wide += std::string{c, '\0'};
  return wide;
}

TEST(SystemTest, OwnVersionResourceIsAVersionBlockWithTheProgramsStrings) {
  const std::optional<std::string> block = platform::OwnVersionResource();
  ASSERT_TRUE(block.has_value());
  ASSERT_GE(block->size(), 6u);
  EXPECT_EQ(Word(*block, 0), block->size());

  // The root's key, then its fixed part: the signature and the version as numbers.
  EXPECT_EQ(block->substr(6, 32),
            std::string("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0\0\0", 32));
  ASSERT_EQ(Word(*block, 2), 52u);
  ASSERT_GE(block->size(), 40u + 52u);
  EXPECT_EQ(Word(*block, 40) | Word(*block, 42) << 16, 0xFEEF04BDu);
  const std::string numbers =
      std::to_string(Word(*block, 50)) + "." + std::to_string(Word(*block, 48)) + "." +
      std::to_string(Word(*block, 54)) + "." + std::to_string(Word(*block, 52));

  // The strings the about box shows, the file version as the numbers say.
  for (const std::string& text : {std::string("FileVersion"), numbers, std::string("Comments"),
                                  std::string("DEU ENG FRA ITA")})
    EXPECT_NE(block->find(Utf16(text)), std::string::npos) << text;
}

// On Windows the program's resources (korvamon's, linked into this test
// program) carry the toolkit's texts; elsewhere programs have no string table.
TEST(SystemTest, OwnStringResourcesAreTheProgramsStringTable) {
#ifdef _WIN32
  EXPECT_EQ(platform::OwnStringResource(65199), "True");
  EXPECT_EQ(platform::OwnStringResource(65120), "At High limit");
#else
  EXPECT_EQ(platform::OwnStringResource(65199), std::nullopt);
#endif
  EXPECT_EQ(platform::OwnStringResource(65161), std::nullopt);
  EXPECT_EQ(platform::OwnStringResource(0x10000), std::nullopt);
}

// ---- the date ----

system_clock::time_point UtcNoon(int year, unsigned month, unsigned day) {
  return sys_days{std::chrono::year{year} / month / day} + hours{12};
}

TEST(SystemTest, TextWrittenInUtf8ComesInTheSystemsCodePage) {
  const std::string utf8 = "d\xC3\xA9j\xC3\xA0 l\xC3\xA4uft";
  const std::string narrow = platform::NarrowFromUtf8(utf8);
#ifdef _WIN32
  // Read back in the code page: the same letters where it has them, and
  // never the UTF-8 bytes taken for letters of their own.
  const std::wstring letters = L"d\u00e9j\u00e0 l\u00e4uft";
  BOOL lacking = FALSE;
  WideCharToMultiByte(CP_ACP, 0, letters.c_str(), -1, nullptr, 0, nullptr, &lacking);
  wchar_t read[32] = {};
  MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, read, 32);
  if (!lacking) {
    EXPECT_EQ(std::wstring(read), letters);
  }
  EXPECT_EQ(narrow.find('\xC3'), std::string::npos);
#else
  EXPECT_EQ(narrow, utf8);
#endif
  EXPECT_EQ(platform::NarrowFromUtf8(""), "");
}

TEST(SystemTest, ShortDateOfAFixedTimeNamesItsYearAndExtremesDoNotBreakIt) {
  EXPECT_NE(platform::FormatShortDate(UtcNoon(2021, 6, 15)).find("2021"), std::string::npos);
  // Far outside what calendars convert: some text or none, never a crash.
  platform::FormatShortDate(system_clock::time_point::max());
  platform::FormatShortDate(system_clock::time_point::min());
}

#ifndef _WIN32

class LocalTimeZone {
 public:
  explicit LocalTimeZone(const char* zone) {
    if (const char* previous = std::getenv("TZ"))
      previous_ = previous;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~LocalTimeZone() {
    if (previous_)
      setenv("TZ", previous_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::optional<std::string> previous_;
};

TEST(SystemTest, PosixShortDateIsDayMonthYearInLocalTime) {
  LocalTimeZone utc("UTC");
  EXPECT_EQ(platform::FormatShortDate(UtcNoon(2021, 6, 15)), "15.06.2021");
  EXPECT_EQ(platform::FormatShortDate(UtcNoon(2007, 1, 5)), "05.01.2007");
  LocalTimeZone ahead("UTC-13");  // 13 hours ahead: noon is already the next day
  EXPECT_EQ(platform::FormatShortDate(UtcNoon(2021, 12, 31)), "01.01.2022");
}

// ---- the request to end ----

class TerminationTest : public korva_test::VirtualTimeTest {
 protected:
  ~TerminationTest() override { platform::OnTerminationRequest({}); }

  // Handles what the watcher thread posts, within a real-time bound.
  void HandleUntil(int count) {
    const auto giveUp = steady_clock::now() + seconds(5);
    while (requests_ < count && steady_clock::now() < giveUp) {
      loop().ProcessMessages();
      std::this_thread::yield();
    }
  }

  int requests_ = 0;
  bool onLoopThread_ = false;
};

TEST_F(TerminationTest, SignalsBecomeRequestsOnTheLoopThreadAndPendingOnesCoalesce) {
  platform::OnTerminationRequest([this] {
    ++requests_;
    onLoopThread_ = loop().IsLoopThread();
  });
  std::raise(SIGTERM);
  std::raise(SIGTERM);  // the first is still pending: adds nothing
  HandleUntil(1);
  EXPECT_EQ(requests_, 1);
  EXPECT_TRUE(onLoopThread_);

  std::raise(SIGINT);
  HandleUntil(2);
  EXPECT_EQ(requests_, 2);
}

TEST_F(TerminationTest, AWriteToAVanishedReaderFailsInsteadOfEndingTheProgram) {
  platform::OnTerminationRequest([] {});
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  errno = 0;
  EXPECT_EQ(write(ends[1], "line\n", 5), -1);
  EXPECT_EQ(errno, EPIPE);
  close(ends[1]);
}

#endif

}  // namespace
