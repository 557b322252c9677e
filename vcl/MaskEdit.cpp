#include "vcl/MaskEdit.h"

#include <stdexcept>

namespace vcl {

TMaskEdit::TMaskEdit(TComponent* owner) : TEdit(owner, "TMaskEdit") {}

void TMaskEdit::SetEditMask(const std::string& mask) {
  size_t at = 0;
  const bool blanksFirst = at < mask.size() && mask[at] == '!';
  if (blanksFirst)
    ++at;
  const size_t digitsStart = at;
  while (at < mask.size() && (mask[at] == '0' || mask[at] == '9'))
    ++at;
  const int places = static_cast<int>(at - digitsStart);
  char blank = '_';
  const std::string rest = mask.substr(at);
  if (places == 0 || !(rest.empty() || (rest.size() == 4 && rest[0] == ';' &&
                                        (rest[1] == '0' || rest[1] == '1') && rest[2] == ';')))
    throw std::invalid_argument("Unsupported edit mask \"" + mask + "\"");
  if (!rest.empty())
    blank = rest[3];
  editMask_ = mask;
  places_ = places;
  blanksFirst_ = blanksFirst;
  blank_ = blank;
  SetText(Fit(Text()));
}

std::string TMaskEdit::Fit(const std::string& text) const {
  if (places_ == 0)
    return text;
  std::string digits;
  for (const char c : text) {
    if (c >= '0' && c <= '9' && static_cast<int>(digits.size()) < places_)
      digits += c;
  }
  const std::string fill(static_cast<size_t>(places_) - digits.size(), blank_);
  return blanksFirst_ ? fill + digits : digits + fill;
}

void TMaskEdit::TextChanged() {
  const std::string fitted = Fit(Text());
  if (fitted != Text()) {
    // The change reports itself once, in its final shape.
    SetText(fitted);
    return;
  }
  TEdit::TextChanged();
}

}  // namespace vcl
