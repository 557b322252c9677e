// The rich-text control, as far as the windows use it: lines of plain text
// shown in one font, typically read-only.
#pragma once

#include <string>
#include <vector>

#include "vcl/Controls.h"
#include "vcl/Forms.h"

namespace vcl {

class TRichEdit : public TWinControl {
 public:
  explicit TRichEdit(TComponent* owner);

  // The lines, without their line breaks. Text holds each of them followed
  // by CR LF, as the class library keeps it.
  const std::vector<std::string>& Lines() const { return lines_; }
  void AddLine(const std::string& line);
  void Clear();

  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool readOnly);

  // Read when the native control is made.
  TBorderStyle BorderStyle = bsSingle;  // bsNone: no border
  bool PlainText = false;

 protected:
  // Text set as a whole becomes the lines again.
  void TextChanged() override;

 private:
  void SetLines(std::vector<std::string> lines);

  std::vector<std::string> lines_;
  bool readOnly_ = false;
  bool settingLines_ = false;
};

}  // namespace vcl
