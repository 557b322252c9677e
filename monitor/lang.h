// Unit lang: the texts of the windows and messages, looked up by number in
// the language library of the chosen language (German, English, French,
// Italian), and the choice of that language.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/LanguageSource.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"

namespace monitor {

// What every lookup gives when there is no text: no library, or no such number.
inline constexpr std::string_view kNoLangEntry = "No entry in language-dll";
// The lookup buffer; a text keeps at most kLangBufferSize - 1 characters.
inline constexpr int kLangBufferSize = 512;

// Language codes: 1 German, 2 English, 3 French, 4 Italian, 0 none chosen.
// From the first character of [CHECK] Language, upper-cased: "G", "E", "F",
// "I"; anything else, an empty value too, gives 0.
uint8_t LanguageCodeFromSetting(std::string_view value);
// "G", "E", "F" or "I" for the codes 1 to 4; empty for any other code.
std::string LanguageSettingLetter(uint8_t code);
// The library of a code, relative to the program's folder ("ENG\\english.dll");
// empty for code 0 and unknown codes.
std::string LanguageLibraryPath(uint8_t code);

// Text `number` of a loaded library, at most 511 characters; kNoLangEntry when
// the library is not loaded or has no text of that number.
std::string LoadLangString(platform::LanguageSource::Handle library, uint32_t number);

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

// The language of the first showing. A code already chosen stands. With 0 the
// user picks one in TfrmLanguage (choices 0 to 3 are the codes 1 to 4) and
// its letter is written to [CHECK] Language; when the write is refused, the
// application's error box says so and the choice holds for this run.
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
