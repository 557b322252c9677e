#include "vcl/RichEdit.h"

#include <utility>

namespace vcl {
namespace {

// CR LF, LF and CR each end a line; a last piece without a break is a line
// when it is not empty.
std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\r' && c != '\n') {
      line += c;
      continue;
    }
    lines.push_back(std::move(line));
    line.clear();
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
  }
  if (!line.empty())
    lines.push_back(std::move(line));
  return lines;
}

}  // namespace

TRichEdit::TRichEdit(TComponent* owner) : TWinControl(owner, "TRichEdit") {
  color_ = clWindow;
  SetBounds(0, 0, 185, 89);
}

void TRichEdit::AddLine(const std::string& line) {
  std::vector<std::string> lines = lines_;
  // A line holding a break of its own is as many lines as it shows.
  std::vector<std::string> pieces = Split(line);
  if (pieces.empty())
    pieces.emplace_back();
  for (std::string& piece : pieces)
    lines.push_back(std::move(piece));
  SetLines(std::move(lines));
}

void TRichEdit::Clear() {
  SetLines({});
}

void TRichEdit::SetLines(std::vector<std::string> lines) {
  lines_ = std::move(lines);
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  settingLines_ = true;
  SetText(text);
  settingLines_ = false;
}

void TRichEdit::SetReadOnly(bool readOnly) {
  if (readOnly == readOnly_)
    return;
  readOnly_ = readOnly;
  Changed(TProperty::ReadOnly);
}

void TRichEdit::TextChanged() {
  if (!settingLines_)
    lines_ = Split(Text());
}

}  // namespace vcl
