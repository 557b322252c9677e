// Texts compared ignoring case as the user's locale does: letters beyond
// A-Z are one in both cases, nothing else is, and the order is one that
// sorting and bisection can rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/Text.h"

namespace {

using platform::LocaleCompareText;

// The text in the narrow encoding, when that encoding holds every character
// of it (the ANSI code page may not).
std::optional<std::string> Narrow(std::u16string_view text) {
  std::string narrow = platform::Utf16ToNarrow(text);
  if (platform::NarrowToUtf16(narrow) != text)
    return std::nullopt;
  return narrow;
}

TEST(LocaleCompareTest, LettersOfLatinGreekAndCyrillicAreOneInBothCases) {
  const std::vector<std::pair<std::u16string, std::u16string>> same = {
      {u"Key", u"kEY"},
      {u"\u00C4rger", u"\u00E4RGER"},                                          // Ärger
      {u"\u00DE\u00D8", u"\u00FE\u00F8"},                                      // Latin-1 Þ Ø
      {u"\u0141\u00F3d\u017A", u"\u0142\u00D3D\u0179"},                        // Łódź
      {u"\u0178", u"\u00FF"},                                                  // Ÿ ÿ
      {u"\u03A3\u039F\u03A6\u039F\u03A3", u"\u03C3\u03BF\u03C6\u03BF\u03C2"},  // ΣΟΦΟΣ σοφος
      {u"\u0386\u038F", u"\u03AC\u03CE"},                                      // Ά Ώ
      {u"\u0416\u0401\u0405", u"\u0436\u0451\u0455"},                          // Ж Ё Ѕ
      {u"\u0490\u04C1\u04D8", u"\u0491\u04C2\u04D9"},                          // Ґ Ӂ Ә
      // One of each run of pairs and each single mapping.
      {u"\u0100\u0139\u014A\u017D", u"\u0101\u013A\u014B\u017E"},  // Ā Ĺ Ŋ Ž
      {u"\u017F\u00B5\u1E9E\u212A", u"S\u03BC\u00DFk"},            // ſ µ ẞ K
      {u"\u03AA\u03D8\u03F4\u03FD", u"\u03CA\u03D9\u03B8\u037B"},  // Ϊ Ϙ ϴ Ͻ
      {u"\u0400\u0460\u048A\u04C0\u0500", u"\u0450\u0461\u048B\u04CF\u0501"},
  };
  const std::vector<std::pair<std::u16string, std::u16string>> different = {
      {u"a", u"\u00E4"}, {u"\u00DF", u"ss"},
      {u"key", u"key "}, {u"i", u"\u0131"},  // dotless i is not i
      {u"\u0435", u"e"},                     // Cyrillic e is not Latin e
  };
  for (const bool alike : {true, false}) {
    for (const auto& [first, second] : alike ? same : different) {
      const auto a = Narrow(first);
      const auto b = Narrow(second);
      if (!a || !b)
        continue;  // letters the ANSI code page does not have
      EXPECT_EQ(LocaleCompareText(*a, *b) == 0, alike) << *a << " / " << *b;
      EXPECT_EQ(LocaleCompareText(*b, *a) == 0, alike) << *b << " / " << *a;
    }
  }
  // A text that is a start of another comes first; bytes after NUL count.
  EXPECT_LT(LocaleCompareText("Ab", "abc"), 0);
  EXPECT_GT(LocaleCompareText("abc", "AB"), 0);
  EXPECT_EQ(LocaleCompareText("", ""), 0);
  EXPECT_NE(LocaleCompareText(std::string("a\0b", 3), std::string("a\0c", 3)), 0);
}

#ifndef _WIN32
// UTF-8 text: a byte that starts no valid character (a lone lead byte, an
// overlong form, a surrogate, a code beyond U+10FFFF) is no letter: it has
// no case and sorts by its value after every character.
TEST(LocaleCompareTest, BytesOfNoValidUtf8CharacterCompareAsBytesAfterEveryCharacter) {
  EXPECT_NE(LocaleCompareText("\xC4", "\xE4"), 0);  // Latin-1 bytes of Ä and ä
  EXPECT_LT(LocaleCompareText("\xC3\x84", "\xC3"), 0);
  EXPECT_LT(LocaleCompareText("\xF4\x8F\xBF\xBF", "\x80"), 0);  // U+10FFFF
  EXPECT_LT(LocaleCompareText("\xC0", "\xC1"), 0);
  EXPECT_NE(LocaleCompareText("\xC1\x81", "a"), 0);                 // overlong A
  EXPECT_NE(LocaleCompareText("\xED\xA0\x80", "\xED\x9F\xBF"), 0);  // a surrogate
  EXPECT_EQ(LocaleCompareText("x\xFFY", "X\xFFy"), 0);
}
#endif

// Every pair of a mixed sample, invalid UTF-8 included, is ordered
// consistently: equal texts are interchangeable and the order is transitive,
// so a list sorted by it is found again by bisection.
TEST(LocaleCompareTest, TheOrderIsAStrictWeakOrderThatSortedListsCanSearch) {
  std::vector<std::string> texts = {"",     "a",    "A",    "ab",       "aB",       "b",
                                    "Z",    "_",    "-1",   "1",        "10",       "a b",
                                    "a-b",  "ab-",  "\xC3", "\xC3\x84", "\xC3\xA4", "\xFF",
                                    "\xFE", "\xE4", "\xC4", "\x80",     "\xED\xA0", "\xF4\x90"};
  for (const char16_t* word : {u"\u00C4", u"\u00E4", u"\u03A3", u"\u03C2", u"\u03C3", u"\u0416",
                               u"\u0436", u"\u00DF", u"SS"}) {
    if (const auto narrow = Narrow(word))
      texts.push_back(*narrow);
  }
  auto sign = [](int order) { return order < 0 ? -1 : (order > 0 ? 1 : 0); };
  for (const std::string& a : texts) {
    EXPECT_EQ(LocaleCompareText(a, a), 0) << a;
    for (const std::string& b : texts) {
      const int ab = sign(LocaleCompareText(a, b));
      ASSERT_EQ(ab, -sign(LocaleCompareText(b, a))) << a << " / " << b;
      for (const std::string& c : texts) {
        const int bc = sign(LocaleCompareText(b, c));
        const int ac = sign(LocaleCompareText(a, c));
        if (ab == bc) {
          ASSERT_EQ(ac, ab) << a << " / " << b << " / " << c;
        }
        if (ab == 0) {
          ASSERT_EQ(ac, bc) << a << " / " << b << " / " << c;
        }
      }
    }
  }

  auto less = [](const std::string& a, const std::string& b) {
    return LocaleCompareText(a, b) < 0;
  };
  std::sort(texts.begin(), texts.end(), less);
  for (const std::string& text : texts) {
    const auto found = std::lower_bound(texts.begin(), texts.end(), text, less);
    ASSERT_NE(found, texts.end()) << text;
    EXPECT_EQ(LocaleCompareText(*found, text), 0) << text;
  }
}

}  // namespace
