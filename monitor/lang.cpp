#include "monitor/lang.h"

#include <iterator>
#include <mutex>
#include <optional>

#include "monitor/Globfunc.h"
#include "platform/Services.h"
#include "platform/System.h"
#include "vcl/SysUtils.h"

namespace monitor {
namespace {

// The library GetLangString reads. The lock also keeps a library from being
// freed while another thread reads a text from it.
std::mutex currentMutex;
platform::LanguageSource::Handle currentLibrary = nullptr;

}  // namespace

bool LanguageDll::Load(uint8_t code) {
  Free();
  const std::string path = LanguageLibraryPath(code);
  if (path.empty())
    return false;
  platform::LanguageLibrary library(path);
  if (!library)
    return false;
  std::lock_guard lock(currentMutex);
  library_ = std::move(library);
  currentLibrary = library_.handle();
  return true;
}

void LanguageDll::Free() {
  if (!library_)
    return;
  std::lock_guard lock(currentMutex);
  if (currentLibrary == library_.handle())
    currentLibrary = nullptr;
  library_.Free();
}

std::string GetLangString(uint32_t number) {
  std::lock_guard lock(currentMutex);
  return LoadLangString(currentLibrary, number);
}

TfrmLanguage::TfrmLanguage(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmLanguage") {
  SetName("frmLanguage");
  // Built in: no language library is loaded before this choice is made.
  SetCaption("Sprache / Language / Langue / Lingua");
  BorderStyle = vcl::bsDialog;
  BorderIcons = vcl::biSystemMenu;
  Position = vcl::poScreenCenter;
  SetClientWidth(240);
  SetClientHeight(176);

  Language = new vcl::TRadioGroup(this);
  Language->SetName("Language");
  Language->SetParent(this);
  Language->SetBounds(16, 8, 208, 121);
  Language->SetItems({"Deutsch", "English", "Francais ", "Italian"});
  Language->SetItemIndex(0);

  btnOK = new vcl::TButton(this);
  btnOK->SetName("btnOK");
  btnOK->SetParent(this);
  btnOK->SetBounds(82, 140, 75, 25);
  btnOK->SetCaption("OK");
  btnOK->Default = true;
  btnOK->ModalResult = vcl::mrOk;
}

uint8_t LanguageCodeFromLocale(std::string_view locale) {
  const std::string language = vcl::LowerCase(locale.substr(0, locale.find_first_of("_.@")));
  constexpr std::string_view kLanguages[] = {"de", "en", "fr", "it"};
  for (size_t i = 0; i < std::size(kLanguages); ++i) {
    if (language == kLanguages[i])
      return static_cast<uint8_t>(i + 1);
  }
  return 2;
}

uint8_t ChooseLanguage(uint8_t code) {
  if (code != 0)
    return code;
  int choice = -1;
  if (const std::optional<std::string> locale = platform::UserMessagesLocale()) {
    choice = LanguageCodeFromLocale(*locale) - 1;
  } else {
    vcl::Owned<TfrmLanguage> dialog(vcl::CreateForm<TfrmLanguage>(nullptr));
    dialog->ShowModal();
    choice = dialog->Language->ItemIndex();
  }
  if (choice < 0 || choice >= common::kLanguageCount)
    return 0;
  const uint8_t chosen = static_cast<uint8_t>(choice + 1);
  try {
    WriteIniString("CHECK", "Language", LanguageSettingLetter(chosen));
  } catch (const common::EIniFileException& error) {
    vcl::Application().HandleException(error);
  }
  return chosen;
}

std::string FormatLangText(std::string_view text, std::string_view argument) {
  const size_t at = text.find("%s");
  if (at == std::string_view::npos)
    return std::string(text);
  std::string result(text.substr(0, at));
  result += argument;
  result += text.substr(at + 2);
  return result;
}

std::string FormatLangString(uint32_t number, std::string_view argument) {
  return FormatLangText(GetLangString(number), argument);
}

}  // namespace monitor
