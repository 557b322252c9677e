#include "vcl/Memo.h"

#include <utility>

namespace vcl {
namespace {

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

// CR LF, LF and CR each end a line; a last piece without a break is a line
// when it is not empty.
std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
        ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty())
    lines.push_back(std::move(line));
  return lines;
}

}  // namespace

TMemo::TMemo(TComponent* owner) : TEdit(owner, "TMemo") {
  SetBounds(0, 0, 185, 89);
}

void TMemo::AddLine(const std::string& line) {
  std::vector<std::string> lines = lines_;
  lines.push_back(line);
  SetLines(std::move(lines));
}

void TMemo::DeleteLine(int index) {
  if (index < 0 || index >= LineCount())
    return;
  std::vector<std::string> lines = lines_;
  lines.erase(lines.begin() + index);
  SetLines(std::move(lines));
}

void TMemo::SetLines(std::vector<std::string> lines) {
  // A line may not hold a break of its own: it would become two on the way back.
  std::vector<std::string> clean;
  for (const std::string& line : lines) {
    std::vector<std::string> pieces = Split(line);
    if (pieces.empty())
      pieces.emplace_back();
    for (std::string& piece : pieces)
      clean.push_back(std::move(piece));
  }
  lines_ = std::move(clean);
  settingLines_ = true;
  SetText(Join(lines_));
  settingLines_ = false;
}

void TMemo::TextChanged() {
  if (!settingLines_)
    lines_ = Split(Text());
  TEdit::TextChanged();
}

}  // namespace vcl
