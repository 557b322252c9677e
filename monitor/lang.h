// Unit lang: the texts of the windows and messages, looked up by number in
// the language library of the chosen language (German, English, French,
// Italian), and the choice of that language.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/LangTable.h"
#include "platform/LanguageSource.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"

namespace monitor {

using common::kLangBufferSize;
using common::kNoLangEntry;
using common::LanguageCodeFromSetting;
using common::LanguageLibraryPath;
using common::LanguageSettingLetter;
using common::LoadLangString;

// The loaded language library. Its owner (the main window) keeps it from the
// first showing to the end; while it is loaded, GetLangString reads it.
class LanguageDll {
 public:
  LanguageDll() = default;
  ~LanguageDll() { Free(); }
  LanguageDll(const LanguageDll&) = delete;
  LanguageDll& operator=(const LanguageDll&) = delete;

  // Loads the library of `code` in place of the one held before. Code 0, or a
  // library that cannot be loaded, leaves none loaded. True when one is.
  bool Load(uint8_t code);
  void Free();
  bool IsLoaded() const { return static_cast<bool>(library_); }

 private:
  platform::LanguageLibrary library_;
};

// Text `number` of the library loaded now: kNoLangEntry when none is.
// Safe from any thread (the USB thread reports with these texts too).
std::string GetLangString(uint32_t number);

// The language dialog of the first start: one choice of four, German first.
class TfrmLanguage : public vcl::TForm {
 public:
  explicit TfrmLanguage(vcl::TComponent* owner);

  vcl::TRadioGroup* Language;
  vcl::TButton* btnOK;
};

// The language of a session's messages locale ("de_DE.UTF-8", "fr", "C"):
// German, English, French or Italian by its language part; English for any
// other.
uint8_t LanguageCodeFromLocale(std::string_view locale);

// The language of the first showing. A code already chosen stands. With 0 the
// user picks one in TfrmLanguage (choices 0 to 3 are the codes 1 to 4), or,
// where the platform answers from the session's locale (POSIX), that locale
// decides; the letter is written to [CHECK] Language. When the write is
// refused, the application's error box says so and the choice holds for this
// run.
uint8_t ChooseLanguage(uint8_t code);

// A text used as a format with one argument (texts 106, 200 and 202): the
// first "%s" becomes `argument`; every other '%' is plain text, so a text
// with a stray "%", "%d" or a second "%s" shows as written. A text without
// "%s" is shown without the argument. Texts that are formats without an
// argument (390, 392) are shown exactly as they come from the library.
std::string FormatLangText(std::string_view text, std::string_view argument);
// GetLangString(number) formatted with `argument`.
std::string FormatLangString(uint32_t number, std::string_view argument);

}  // namespace monitor
