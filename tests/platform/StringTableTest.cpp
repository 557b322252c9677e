// The string-table reader: what the language tables are written in is read
// as the resource compiler reads it, anything else is refused with its line,
// and no input, however broken, crashes the reader.
#include <gtest/gtest.h>

#include <string>

#include "platform/StringTable.h"

namespace {

using platform::CopyTableText;
using platform::ParseStringTable;

const char kScript[] =
    "// header comment\r\n"
    "#pragma code_page(65001)\r\n"
    "LANGUAGE 0x07, 0x01\r\n"
    "/* a comment\r\n   over lines */\r\n"
    "STRINGTABLE DISCARDABLE\r\n"
    "BEGIN\r\n"
    "  1, \"&Einstellungen\"\r\n"
    "  2 \"Gr\xC3\xB6\xC3\x9F"
    "e \"\"x\"\" 100 %s\"  // trailing comment\r\n"
    "  0x10, \"hex\"\r\n"
    "  3, \"line\\nbreak\\ttab\\\\\"\r\n"
    "  4, \"\"\r\n"
    "END\r\n"
    "stringtable\n{\n  65535, \"last\"\n}\n";

TEST(StringTableTest, ReadsTheFormTheTablesAreWrittenIn) {
  const auto parsed = ParseStringTable(kScript);
  ASSERT_TRUE(parsed.table) << parsed.error;
  const auto& table = *parsed.table;
  EXPECT_EQ(table.size(), 6u);
  EXPECT_EQ(*table.Find(1), "&Einstellungen");
  EXPECT_EQ(*table.Find(2),
            "Gr\xC3\xB6\xC3\x9F"
            "e \"x\" 100 %s");
  EXPECT_EQ(*table.Find(16), "hex");
  EXPECT_EQ(*table.Find(3), "line\nbreak\ttab\\");
  EXPECT_EQ(*table.Find(4), "");
  EXPECT_EQ(*table.Find(65535), "last");
  EXPECT_EQ(table.Find(5), nullptr);
}

TEST(StringTableTest, RefusesWhatTheResourceCompilerWouldReadDifferentlyAndNamesTheLine) {
  struct Case {
    const char* script;
    const char* error;
  };
  const Case cases[] = {
      {"STRINGTABLE\nBEGIN\n 1, \"a\"\n 1, \"b\"\nEND\n", "line 4: text number 1 appears twice"},
      {"STRINGTABLE\nBEGIN\n 1, \"open\nEND\n", "line 3: text not closed on its line"},
      {"#include <windows.h>\n", "line 1: only '#pragma code_page(65001)' is allowed here"},
      {"#pragma code_page(1252)\n", "line 1: only"},
      {"STRINGTABLE\nBEGIN\n 1, \"a\\qb\"\nEND\n", "line 3: unsupported escape"},
      {"STRINGTABLE\nBEGIN\n 1, \"a\"\n", "line 4: STRINGTABLE not closed with END"},
      {"STRINGTABLE\nBEGIN\n 65536, \"a\"\nEND\n", "line 3: number above 65535"},
      {"STRINGTABLE\nBEGIN\n 7,\nEND\n", "line 4: expected a quoted text"},
      {"STRINGTABLE\nBEGIN\n 1, L\"wide\"\nEND\n", "line 3: expected a quoted text"},
      {"STRINGTABLE\nBEGIN\n 12abc, \"a\"\nEND\n", "line 3: not a number"},
      {"\n\n/* never closed\n", "line 3: comment not closed"},
      {"DIALOG 1\n", "line 1: expected STRINGTABLE or LANGUAGE"},
      {"STRINGTABLE\nBEGIN\n 1 \"a\" # 2\nEND\n", "line 3: unexpected character '#'"},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseStringTable(c.script);
    EXPECT_FALSE(parsed.table) << c.script;
    EXPECT_EQ(parsed.error.rfind(c.error, 0), 0u) << c.script << " gave: " << parsed.error;
  }
}

TEST(StringTableTest, BrokenInputNeverCrashesTheReader) {
  // Every cut of a valid script, and the script with each byte garbled.
  const std::string script = kScript;
  for (size_t n = 0; n <= script.size(); ++n) {
    const auto parsed = ParseStringTable(script.substr(0, n));
    EXPECT_NE(static_cast<bool>(parsed.table), !parsed.error.empty());
  }
  for (size_t i = 0; i < script.size(); ++i) {
    for (char garbage : {'\0', '"', '\\', '\xFF', '\n', '#', '*'}) {
      std::string broken = script;
      broken[i] = garbage;
      const auto parsed = ParseStringTable(broken);
      EXPECT_NE(static_cast<bool>(parsed.table), !parsed.error.empty());
    }
  }
}

TEST(StringTableTest, CopiesAsLoadStringADoesWithoutSplittingACharacter) {
  char buffer[8];
  EXPECT_EQ(CopyTableText("abc", buffer, 8), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(CopyTableText("abcdefghij", buffer, 8), 7);
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_EQ(CopyTableText("abc", buffer, 1), 0);
  EXPECT_STREQ(buffer, "");
  buffer[0] = 'x';
  EXPECT_EQ(CopyTableText("abc", buffer, 0), 0);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(CopyTableText("abc", nullptr, 8), 0);

  // "abcdef" + 'ä' (two bytes) would be cut inside the 'ä' at seven bytes.
  EXPECT_EQ(CopyTableText("abcdef\xC3\xA4", buffer, 8), 6);
  EXPECT_STREQ(buffer, "abcdef");
  // A whole character that fits is kept.
  EXPECT_EQ(CopyTableText("abcde\xC3\xA4z", buffer, 8), 7);
  EXPECT_STREQ(buffer, "abcde\xC3\xA4");
  // Bytes that are no UTF-8 at all are cut where the buffer ends.
  EXPECT_EQ(CopyTableText("\x80\x80\x80\x80\x80\x80\x80\x80\x80", buffer, 8), 7);
}

}  // namespace
