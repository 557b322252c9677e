// Wide text between UTF-8 and UTF-16: malformed input of either kind
// becomes U+FFFD instead of being dropped or passed on broken.
#include <string>

#include "ComTestSupport.h"
#include "platform/com/ComHandles.h"

namespace {

using platform::com::WideString;

TEST(WideTextTest, Utf8AndUtf16ConvertBothWays) {
  struct Case {
    std::string utf8;
    WideString wide;
  };
  const Case cases[] = {
      {"", WideString()},
      {"Korva", WideString(OLESTR("Korva"))},
      {"\xC3\x84", WideString(1, 0x00C4)},
      {"\xE2\x82\xAC", WideString(1, 0x20AC)},
      {"\xF0\x9F\x98\x80", WideString{static_cast<OLECHAR>(0xD83D), static_cast<OLECHAR>(0xDE00)}},
      {std::string("a\0b", 3), WideString{'a', 0, 'b'}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::com::Utf8ToWide(c.utf8), c.wide) << c.utf8;
    EXPECT_EQ(platform::com::WideToUtf8(c.wide), c.utf8) << c.utf8;
  }
}

TEST(WideTextTest, MalformedTextBecomesReplacementCharacters) {
  const OLECHAR r = 0xFFFD;
  struct Case {
    std::string utf8;
    WideString wide;
  };
  const Case fromUtf8[] = {
      {"\x80", WideString{r}},  // a lone continuation byte
      {"\xE2\x82"
       "A",
       WideString{r, 'A'}},                          // cut short, the next character kept
      {"\xC0\xAF", WideString{r, r}},                // an overlong form
      {"\xED\xA0\x80", WideString{r, r, r}},         // an encoded surrogate
      {"\xF4\x90\x80\x80", WideString{r, r, r, r}},  // beyond U+10FFFF
  };
  for (const Case& c : fromUtf8)
    EXPECT_EQ(platform::com::Utf8ToWide(c.utf8), c.wide) << testing::PrintToString(c.utf8);

  const WideString unpaired[] = {
      WideString{static_cast<OLECHAR>(0xD800), 'x'}, WideString{'x', static_cast<OLECHAR>(0xDC00)},
      WideString{static_cast<OLECHAR>(0xDC00), static_cast<OLECHAR>(0xD800)}};
  EXPECT_EQ(platform::com::WideToUtf8(unpaired[0]), "\xEF\xBF\xBDx");
  EXPECT_EQ(platform::com::WideToUtf8(unpaired[1]), "x\xEF\xBF\xBD");
  EXPECT_EQ(platform::com::WideToUtf8(unpaired[2]), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(WideTextTest, LengthCompareAndTaskCopyTakeNullAsEmpty) {
  const korva_test::NoLeaks noLeaks;
  EXPECT_EQ(platform::com::WideLength(nullptr), 0u);
  EXPECT_EQ(platform::com::WideLength(OLESTR("abc")), 3u);
  EXPECT_EQ(platform::com::WideCompare(nullptr, OLESTR("")), 0);
  EXPECT_LT(platform::com::WideCompare(OLESTR("ab"), OLESTR("abc")), 0);
  EXPECT_GT(platform::com::WideCompare(OLESTR("b"), OLESTR("abc")), 0);
  // Code-unit order: a character above U+FFFF sorts by its surrogates.
  const OLECHAR high[] = {static_cast<OLECHAR>(0xFFFF), 0};
  EXPECT_GT(platform::com::WideCompare(high, OLESTR("z")), 0);
  EXPECT_EQ(platform::com::WideToUtf8(static_cast<const OLECHAR*>(nullptr)), "");

  platform::com::TaskMemPtr<OLECHAR> copy(platform::com::WideToTaskMem(OLESTR("Korva")));
  ASSERT_TRUE(copy);
  EXPECT_EQ(platform::com::WideCompare(copy.get(), OLESTR("Korva")), 0);
}

}  // namespace
