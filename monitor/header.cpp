#include "monitor/header.h"

#include "monitor/lang.h"

namespace monitor {

TfrmHeader* frmHeader = nullptr;

TfrmHeader::TfrmHeader(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmHeader") {
  BorderStyle = vcl::bsToolWindow;
  BorderIcons = vcl::biSystemMenu;
  Position = vcl::poScreenCenter;
  KeyPreview = true;
  SetColor(vcl::clWhite);
  SetClientWidth(509);
  SetClientHeight(373);

  // The notes fill the window within a white border of 20 pixels.
  constexpr int kBorder = 20;
  reNotes = new vcl::TRichEdit(this);
  reNotes->SetParent(this);
  reNotes->SetBounds(kBorder, kBorder, 509 - 2 * kBorder, 373 - 2 * kBorder);
  reNotes->BorderStyle = vcl::bsNone;
  reNotes->PlainText = true;
  reNotes->SetColor(vcl::clWhite);
  reNotes->SetReadOnly(true);
  reNotes->SetEnabled(false);
  vcl::TFont font;
  font.Name = "Arial";
  font.Height = -16;
  font.Color = vcl::clBlack;
  reNotes->SetFont(font);

  OnCreate = [this](vcl::TObject* sender) { FormCreate(sender); };
  OnDeactivate = [this](vcl::TObject* sender) { FormDeactivate(sender); };
  OnKeyDown = [this](vcl::TObject* sender, uint16_t& key, vcl::TShiftState shift) {
    FormKeyDown(sender, key, shift);
  };
}

void TfrmHeader::FormCreate(vcl::TObject* /*sender*/) {
  vcl::TForm* main = vcl::Application().MainForm();
  if (main && main != this)
    FillHeaderText();
}

void TfrmHeader::FormKeyDown(vcl::TObject* /*sender*/, uint16_t& key, vcl::TShiftState /*shift*/) {
  if (key == vcl::VK_ESCAPE)
    Close();
}

void TfrmHeader::FormDeactivate(vcl::TObject* /*sender*/) {
  Close();
}

void TfrmHeader::FillHeaderText() {
  reNotes->Clear();
  for (uint32_t number = kFirstNoteText; number <= kLastNoteText; ++number)
    reNotes->AddLine(GetLangString(number));
  SetCaption(GetLangString(kNotesCaptionText));
}

void ShowHeaderModal(vcl::TComponent* owner) {
  if (frmHeader)
    return;
  vcl::Owned<TfrmHeader> notes(vcl::CreateForm<TfrmHeader>(owner));
  frmHeader = notes.get();
  struct Forget {
    ~Forget() { frmHeader = nullptr; }
  } forget;
  notes->ShowModal();
}

}  // namespace monitor
