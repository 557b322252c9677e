// The memo: a multi-line edit whose text is a list of lines.
#pragma once

#include <string>
#include <vector>

#include "vcl/StdCtrls.h"

namespace vcl {

class TMemo : public TEdit {
 public:
  explicit TMemo(TComponent* owner);

  // The lines, without their line breaks. Text holds each of them followed
  // by CR LF, as the class library's memo keeps it.
  const std::vector<std::string>& Lines() const { return lines_; }
  int LineCount() const { return static_cast<int>(lines_.size()); }
  void AddLine(const std::string& line);
  // Out-of-range indexes change nothing.
  void DeleteLine(int index);
  void ClearLines() { SetLines({}); }
  void SetLines(std::vector<std::string> lines);

  // Read when the native control is made.
  bool VerticalScrollBar = false;

 protected:
  // Text set by code or typed by the user becomes the lines again.
  void TextChanged() override;

 private:
  std::vector<std::string> lines_;
  bool settingLines_ = false;
};

}  // namespace vcl
