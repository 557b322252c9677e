// Unit header: the user-notes window, a white tool window whose only content
// is the 21 lines of the notes in the chosen language.
#pragma once

#include <cstdint>

#include "vcl/Forms.h"
#include "vcl/RichEdit.h"

namespace monitor {

// Language texts: the notes' lines, in order, and the window's caption.
inline constexpr uint32_t kFirstNoteText = 500;
inline constexpr uint32_t kLastNoteText = 520;
inline constexpr uint32_t kNotesCaptionText = 16;

class TfrmHeader : public vcl::TForm {
 public:
  explicit TfrmHeader(vcl::TComponent* owner);

  vcl::TRichEdit* reNotes;

  void FormCreate(vcl::TObject* sender);
  // Escape closes the window.
  void FormKeyDown(vcl::TObject* sender, uint16_t& key, vcl::TShiftState shift);
  void FormDeactivate(vcl::TObject* sender);

  // The notes: texts 500 to 520 as 21 lines, caption text 16.
  void FillHeaderText();
};

// The user-notes window while one is shown modally by ShowHeaderModal.
extern TfrmHeader* frmHeader;

// Creates the user-notes window, shows it modally and frees it; does nothing
// while one is open already.
void ShowHeaderModal(vcl::TComponent* owner);

}  // namespace monitor
