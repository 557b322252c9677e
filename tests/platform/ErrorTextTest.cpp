// The system's texts for error codes as the Windows code shows them: on one
// line, without the blanks around them, and without the final period where a
// sentence of ours takes them in.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/Text.h"
#include "platform/win32/Win32ErrorText.h"

namespace {

using platform::win32::FinalPeriod;

TEST(ErrorTextTest, TheSystemsTextLosesItsBlanksAndLineBreaksAndOnRequestItsPeriod) {
  const struct {
    std::u16string stored;
    std::u16string kept;
    std::u16string dropped;
  } cases[] = {
      {u"Access is denied.\r\n", u"Access is denied.", u"Access is denied"},
      {u"Access is denied. \r\n", u"Access is denied.", u"Access is denied"},
      {u" \tThe file exists.\r\n\r\n", u"The file exists.", u"The file exists"},
      {u"No period\r\n", u"No period", u"No period"},
      {u"Wait...\r\n", u"Wait...", u"Wait"},
      {u"The 3.5 version", u"The 3.5 version", u"The 3.5 version"},
      {u"\u00c4nderung fehlgeschlagen.\r\n", u"\u00c4nderung fehlgeschlagen.",
       u"\u00c4nderung fehlgeschlagen"},
      {u"\r\n", u"", u""},
      {u"", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::Utf16ToNarrow(c.stored));
    EXPECT_EQ(platform::win32::OneLineErrorText(c.stored, FinalPeriod::Keep), c.kept);
    EXPECT_EQ(platform::win32::OneLineErrorText(c.stored, FinalPeriod::Drop), c.dropped);
  }
}

// Codes that every system has a text for (Wine has none for the sockets' codes).
TEST(ErrorTextTest, KnownCodesHaveOneLineInBothEncodingsAndUnknownOnesNone) {
  for (const DWORD code : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_FILE_NOT_FOUND},
                           DWORD{ERROR_NOT_ALL_ASSIGNED}, static_cast<DWORD>(E_FAIL)}) {
    SCOPED_TRACE(code);
    const std::u16string wide = platform::win32::ErrorTextUtf16(code);
    ASSERT_FALSE(wide.empty());
    EXPECT_GT(wide.front(), u' ');
    EXPECT_GT(wide.back(), u' ');
    EXPECT_EQ(wide.find_first_of(u"\r\n"), std::u16string::npos);
    EXPECT_EQ(platform::win32::ErrorText(code), platform::Utf16ToNarrow(wide));
    EXPECT_EQ(platform::win32::ErrorText(code, FinalPeriod::Drop),
              platform::Utf16ToNarrow(platform::win32::OneLineErrorText(wide, FinalPeriod::Drop)));
  }
  EXPECT_EQ(platform::win32::ErrorText(0x2000FFFF), "");
  EXPECT_EQ(platform::win32::ErrorTextUtf16(0x2000FFFF), u"");
}

}  // namespace
#endif
