// The file-open dialog: the user picks an existing file's name.
#pragma once

#include <string>

#include "vcl/Classes.h"

namespace vcl {

class TOpenDialog : public TComponent {
 public:
  explicit TOpenDialog(TComponent* owner);

  // Shown first, and the chosen file's full name after Execute.
  std::string FileName;
  // Pairs of a description and its patterns, all separated by '|':
  // "Logging files (*.log)|*.LOG|Text files (*.txt)|*.TXT". Empty: every file.
  std::string Filter;
  // The folder the dialog starts in (empty: the system's choice).
  std::string InitialDir;
  std::string Title;

  // Shows the dialog modally; true when the user confirmed a file, whose
  // name is then in FileName. FileName stays as it was on cancel.
  bool Execute();
};

}  // namespace vcl
