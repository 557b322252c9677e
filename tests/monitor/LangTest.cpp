// The language texts: every number the program asks for is in each of the
// four libraries beside the program, with the roles its callers rely on;
// every way of not finding a text gives the fallback; texts used as formats
// cannot be made to misbehave by what a translation holds.

#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TestFolder.h"
#include "TestLanguage.h"
#include "monitor/Globfunc.h"
#include "monitor/lang.h"
#include "platform/Files.h"
#include "platform/LanguageSource.h"
#include "vcl/VclTestEnvironment.h"

namespace {

using monitor::FormatLangText;
using monitor::GetLangString;
using monitor::kNoLangEntry;
using monitor::LanguageDll;

// The numbers every table holds: ranges "from-to", "/2" for every second one.
std::vector<uint32_t> ListedNumbers() {
  std::istringstream listed(
      "1-22 30-32 34-43 45-47 49-68 70-100/2 102-116/2 120 140 142-147 200-208/2 209-216 "
      "300-330 340 346 348 390-402/2 404-430 500-522");
  std::vector<uint32_t> numbers;
  for (std::string range; listed >> range;) {
    unsigned from = 0, to = 0, step = 1;
    if (std::sscanf(range.c_str(), "%u-%u/%u", &from, &to, &step) < 2)
      to = from;
    for (uint32_t n = from; n <= to; n += step)
      numbers.push_back(n);
  }
  return numbers;
}

size_t Count(const std::string& text, std::string_view what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

TEST(LangTest, EveryLibraryHoldsEveryNumberWithTheRoleItsCallersNeed) {
  const std::vector<uint32_t> numbers = ListedNumbers();
  for (uint8_t code = 1; code <= 4; ++code) {
    SCOPED_TRACE(monitor::LanguageLibraryPath(code));
    LanguageDll dll;
    ASSERT_TRUE(dll.Load(code));
    for (uint32_t number : numbers) {
      const std::string text = GetLangString(number);
      EXPECT_NE(text, kNoLangEntry) << "text " << number;
      EXPECT_FALSE(text.empty()) << "text " << number;
    }
    // Formats: exactly the one placeholder, no other '%' for a formatter to trip on.
    for (uint32_t number : {106u, 200u, 202u}) {
      const std::string text = GetLangString(number);
      EXPECT_EQ(Count(text, "%s"), 1u) << "text " << number << ": " << text;
      EXPECT_EQ(Count(text, "%"), 1u) << "text " << number << ": " << text;
    }
    for (uint32_t number : {390u, 392u}) {
      EXPECT_EQ(Count(GetLangString(number), "%"), 0u) << "text " << number;
    }
    // Pieces that are joined with a link name or a number: a prefix ends with
    // a blank (or the "COM" a port number follows), a suffix starts with one.
    for (uint32_t number : {55u, 56u, 64u}) {
      EXPECT_EQ(GetLangString(number).back(), ' ') << "text " << number;
    }
    for (uint32_t number : {53u, 204u}) {
      const std::string text = GetLangString(number);
      EXPECT_EQ(text.substr(text.size() - 3), "COM") << "text " << number;
    }
    for (uint32_t number : {54u, 57u, 58u, 59u, 61u, 62u, 63u, 143u, 522u}) {
      EXPECT_EQ(GetLangString(number).front(), ' ') << "text " << number;
    }
    // The key that toggles the received-text line is the letter after '&'.
    const std::string upDown = GetLangString(3);
    ASSERT_GE(upDown.size(), 2u);
    EXPECT_EQ(upDown[0], '&');
    EXPECT_TRUE(upDown[1] >= 'A' && upDown[1] <= 'Z') << upDown;
    // The main window's four buttons take four different Alt keys.
    std::set<char> keys;
    for (uint32_t number : {1u, 2u, 3u, 4u}) {
      const std::string caption = GetLangString(number);
      const size_t amp = caption.find('&');
      ASSERT_LT(amp + 1, caption.size()) << caption;
      keys.insert(static_cast<char>(std::tolower(static_cast<unsigned char>(caption[amp + 1]))));
    }
    EXPECT_EQ(keys.size(), 4u);
    // The notes have a window of their own: the one they speak of is the main window.
    const char* thisWindow[] = {"dieses Fenster", "this window", "cette fenêtre",
                                "questa finestra"};
    for (uint32_t number = 500; number <= 520; ++number)
      EXPECT_EQ(GetLangString(number).find(thisWindow[code - 1]), std::string::npos) << number;
  }
}

TEST(LangTest, TextsReadTheSameThroughEveryBuild) {
  // Plain-ASCII texts compare byte for byte on both builds, so the resource
  // compiler and our reader must agree on them.
  LanguageDll dll;
  ASSERT_TRUE(dll.Load(2));
  EXPECT_EQ(GetLangString(1), "&Settings");
  EXPECT_EQ(GetLangString(106), "The settings file %s could not be write-protected.");
  ASSERT_TRUE(dll.Load(3));
  EXPECT_EQ(GetLangString(16), "Remarques d'utilisation");
  ASSERT_TRUE(dll.Load(4));
  EXPECT_EQ(GetLangString(31), "Carica superiore all'85 %");
}

// Runs the program as if it lay in a folder without language libraries.
class ProgramElsewhere final : public korva_test::ForwardingFiles {
 public:
  std::string ExecutablePath() override {
    const std::string exe = native_.ExecutablePath();
    return exe.substr(0, exe.find_last_of("\\/") + 1) + "no-languages-here/korvamon.exe";
  }
};

TEST(LangTest, EveryWayOfNotFindingATextGivesTheFallback) {
  EXPECT_EQ(GetLangString(1), kNoLangEntry);  // nothing loaded

  LanguageDll none;
  EXPECT_FALSE(none.Load(0));
  EXPECT_FALSE(none.Load(5));
  EXPECT_EQ(GetLangString(1), kNoLangEntry);

  LanguageDll english;
  ASSERT_TRUE(english.Load(2));
  EXPECT_EQ(GetLangString(23), kNoLangEntry);
  EXPECT_EQ(GetLangString(65535), kNoLangEntry);
  EXPECT_EQ(GetLangString(70000), kNoLangEntry);
  english.Free();
  EXPECT_EQ(GetLangString(1), kNoLangEntry);

  {
    ProgramElsewhere elsewhere;
    platform::ScopedService<platform::Files> guard(elsewhere);
    EXPECT_FALSE(english.Load(2));
    EXPECT_FALSE(english.IsLoaded());
    EXPECT_EQ(GetLangString(1), kNoLangEntry);
  }
}

TEST(LangTest, GetLangStringReadsTheLibraryLoadedNow) {
  LanguageDll first;
  ASSERT_TRUE(first.Load(2));
  {
    LanguageDll second;
    ASSERT_TRUE(second.Load(3));
    EXPECT_EQ(GetLangString(16), "Remarques d'utilisation");
    // Freeing a library that is no longer the current one leaves the current alone.
    first.Free();
    EXPECT_EQ(GetLangString(16), "Remarques d'utilisation");
  }
  EXPECT_EQ(GetLangString(16), kNoLangEntry);
  // Loading again replaces what the owner held.
  ASSERT_TRUE(first.Load(2));
  ASSERT_TRUE(first.Load(4));
  EXPECT_EQ(GetLangString(21), "Esci");
}

TEST(LangTest, ALongTextIsCutTo511Characters) {
  korva_test::TestLanguage source;
  source.Set(1, std::string(600, 'x'));
  source.Set(2, std::string(511, 'y'));
  LanguageDll dll;
  ASSERT_TRUE(dll.Load(1));
  EXPECT_EQ(GetLangString(1), std::string(511, 'x'));
  EXPECT_EQ(GetLangString(2), std::string(511, 'y'));
}

TEST(LangTest, TheLanguageComesFromTheFirstLetterOfTheSetting) {
  EXPECT_EQ(monitor::LanguageCodeFromSetting("G"), 1);
  EXPECT_EQ(monitor::LanguageCodeFromSetting("english"), 2);
  EXPECT_EQ(monitor::LanguageCodeFromSetting("f"), 3);
  EXPECT_EQ(monitor::LanguageCodeFromSetting("Italiano"), 4);
  EXPECT_EQ(monitor::LanguageCodeFromSetting("x"), 0);
  EXPECT_EQ(monitor::LanguageCodeFromSetting(""), 0);
  EXPECT_EQ(monitor::LanguageCodeFromSetting(" E"), 0);
  EXPECT_EQ(monitor::LanguageCodeFromSetting("\xC9"), 0);

  for (uint8_t code = 1; code <= 4; ++code) {
    EXPECT_EQ(monitor::LanguageCodeFromSetting(monitor::LanguageSettingLetter(code)), code);
  }
  EXPECT_EQ(monitor::LanguageSettingLetter(0), "");
}

TEST(LangTest, TheFormatterFillsOnlyTheOnePlaceholder) {
  EXPECT_EQ(FormatLangText("File %s is locked.", "C:\\KORVAMON.INI"),
            "File C:\\KORVAMON.INI is locked.");
  EXPECT_EQ(FormatLangText("%", "x"), "%");
  EXPECT_EQ(FormatLangText("100%", "x"), "100%");
  EXPECT_EQ(FormatLangText("%d", "x"), "%d");
  EXPECT_EQ(FormatLangText("%s%s%n", "x"), "x%s%n");
  EXPECT_EQ(FormatLangText("%n %p %*s %%s", "x"), "%n %p %*s %x");
  EXPECT_EQ(FormatLangText("no placeholder", "x"), "no placeholder");
  EXPECT_EQ(FormatLangText("", "x"), "");
  // The argument is never read as a format itself.
  EXPECT_EQ(FormatLangText("[%s]", "%s%n%d"), "[%s%n%d]");
}

// The first start's choice, with the settings file in a folder of the test's own.
class LanguageChoiceTest : public korva_test::VclTest {
 protected:
  std::string Settings() const { return korva_test::TestFolder::Get(ini_); }

  korva_test::TestFolder folder_;
  std::string ini_ = folder_.File("korvamon.INI");
  monitor::ScopedSettingsFilePath settingsGuard_{ini_};
};

#ifdef _WIN32
TEST_F(LanguageChoiceTest, OnlyWithoutALanguageTheDialogAsksAndTheChoiceIsWrittenAsItsLetter) {
  EXPECT_EQ(monitor::ChooseLanguage(3), 3);
  EXPECT_TRUE(headless().modalForms.empty());
  EXPECT_EQ(Settings(), "");

  // Nobody picks anything: OK takes the first choice.
  EXPECT_EQ(monitor::ChooseLanguage(0), 1);
  EXPECT_EQ(headless().modalForms, (std::vector<std::string>{"TfrmLanguage"}));
  EXPECT_EQ(monitor::ReadIniString("CHECK", "Language", ""), "G");

  const char* letters[] = {"G", "E", "F", "I"};
  for (int choice = 0; choice < 4; ++choice) {
    vcl::ScopedModalAnswer answer([choice](vcl::TForm& form) {
      auto& dialog = dynamic_cast<monitor::TfrmLanguage&>(form);
      EXPECT_EQ(dialog.Language->Items(),
                (std::vector<std::string>{"Deutsch", "English", "Francais ", "Italian"}));
      dialog.Language->ClickItem(choice);
      dialog.btnOK->Click();
    });
    EXPECT_EQ(monitor::ChooseLanguage(0), choice + 1);
    EXPECT_EQ(monitor::ReadIniString("CHECK", "Language", ""), letters[choice]);
    // What the next start reads from the file gives the same language.
    EXPECT_EQ(monitor::LanguageCodeFromSetting(letters[choice]), choice + 1);
  }
}
#else
TEST_F(LanguageChoiceTest, OnPosixTheSessionsLocaleAnswersAndTheChoiceIsWrittenAsItsLetter) {
  EXPECT_EQ(monitor::ChooseLanguage(3), 3);
  EXPECT_EQ(Settings(), "");
  using Value = std::optional<std::string>;
  struct Case {
    Value all, messages, lang;
    const char* letter;
  };
  const Case cases[] = {
      {"de_DE.UTF-8", "fr_FR.UTF-8", "it_IT.UTF-8", "G"},
      {"", "fr_CH", "it_IT", "F"},
      {std::nullopt, std::nullopt, "it_IT@euro", "I"},
      {std::nullopt, std::nullopt, "en_GB.UTF-8", "E"},
      {std::nullopt, std::nullopt, "C.UTF-8", "E"},
      {std::nullopt, std::nullopt, "pt_BR.UTF-8", "E"},
      {std::nullopt, std::nullopt, std::nullopt, "E"},
  };
  for (const Case& c : cases) {
    korva_test::ScopedVariable all("LC_ALL", c.all);
    korva_test::ScopedVariable messages("LC_MESSAGES", c.messages);
    korva_test::ScopedVariable lang("LANG", c.lang);
    EXPECT_EQ(monitor::ChooseLanguage(0), monitor::LanguageCodeFromSetting(c.letter));
    EXPECT_EQ(monitor::ReadIniString("CHECK", "Language", ""), c.letter);
  }
  EXPECT_TRUE(headless().modalForms.empty());
}
#endif

TEST_F(LanguageChoiceTest, ARefusedWriteIsReportedAndTheChoiceStillHolds) {
  korva_test::TestFolder::Put(ini_, "[COM]\r\nCOMPORT=1\r\n");
  korva_test::TestFolder::MakeReadOnly(ini_);
  vcl::ScopedModalAnswer answer([](vcl::TForm& form) {
    auto& dialog = dynamic_cast<monitor::TfrmLanguage&>(form);
    dialog.Language->ClickItem(1);
    dialog.btnOK->Click();
  });
#ifndef _WIN32
  korva_test::ScopedVariable locale("LC_ALL", "en_US.UTF-8");
#endif
  EXPECT_EQ(monitor::ChooseLanguage(0), 2);
  EXPECT_EQ(Settings(), "[COM]\r\nCOMPORT=1\r\n");
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].flags & platform::kMbIconError, platform::kMbIconError);
}

}  // namespace
