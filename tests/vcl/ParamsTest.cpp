// The program's parameters: the command line split as Windows programs of
// the class library split it, and ParamCount/ParamStr over its words.

#include <gtest/gtest.h>

#include "platform/CommandLine.h"
#include "platform/Files.h"
#include "platform/Services.h"
#include "vcl/Params.h"

namespace {

using Words = std::vector<std::string>;

TEST(CommandLineTest, BlanksSeparateAndDoubleQuotesGroup) {
  const struct {
    const char* line;
    Words words;
  } cases[] = {
      {"", {}},
      {" \t ", {}},
      {"korvamon.exe 17408 17409", {"korvamon.exe", "17408", "17409"}},
      {"  a\t\tb  ", {"a", "b"}},
      {"\"C:\\Program Files\\korvamon.exe\" 5000", {"C:\\Program Files\\korvamon.exe", "5000"}},
      {"p a\"b c\"d", {"p", "ab cd"}},
      {"p \"\" x", {"p", "", "x"}},
      {"p \"open group", {"p", "open group"}},
      {"p C:\\dir\\\" x", {"p", "C:\\dir\\ x"}},
      {"p a\r\nb", {"p", "a", "b"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(platform::SplitCommandLine(c.line), c.words) << c.line;
}

TEST(CommandLineTest, ParametersAreTheWordsAfterTheProgramsName) {
  {
    const platform::ScopedCommandLine line({"korvamon", "abc", "5000", "REGSERVER"});
    EXPECT_EQ(vcl::ParamCount(), 3);
    EXPECT_EQ(vcl::ParamStr(1), "abc");
    EXPECT_EQ(vcl::ParamStr(3), "REGSERVER");
    EXPECT_EQ(vcl::ParamStr(4), "");
    EXPECT_EQ(vcl::ParamStr(-1), "");
    // The program itself is its file's full path, not the word it was started by.
    EXPECT_EQ(vcl::ParamStr(0), platform::files().ExecutablePath());
  }
  const platform::ScopedCommandLine none({});
  EXPECT_EQ(vcl::ParamCount(), 0);
  EXPECT_EQ(vcl::ParamStr(1), "");
}

}  // namespace
