// Texts compared ignoring case on Windows: the user locale's own comparison
// of texts in the ANSI code page. It may call texts equal that differ in
// more than case (characters it ignores); those are told apart by their
// upper case, so that two different keys are never one.
#include <windows.h>

#include <climits>

#include "platform/Text.h"

namespace platform {
namespace {

int Sign(int order) {
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::u16string UpperCase(std::string_view narrow) {
  std::u16string text = NarrowToUtf16(narrow);
  if (text.empty() || text.size() > INT_MAX)
    return text;
  std::u16string upper(text.size(), u'\0');
  const int units =
      LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE,
                   reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()),
                   reinterpret_cast<wchar_t*>(upper.data()), static_cast<int>(upper.size()));
  if (units <= 0)
    return text;
  upper.resize(static_cast<size_t>(units));
  return upper;
}

}  // namespace

int LocaleCompareText(std::string_view a, std::string_view b) {
  if (a.size() <= INT_MAX && b.size() <= INT_MAX) {
    // An empty view may have no data; the function wants a pointer.
    const int order = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE,
                                     a.empty() ? "" : a.data(), static_cast<int>(a.size()),
                                     b.empty() ? "" : b.data(), static_cast<int>(b.size()));
    if (order == CSTR_LESS_THAN)
      return -1;
    if (order == CSTR_GREATER_THAN)
      return 1;
  }
  return Sign(UpperCase(a).compare(UpperCase(b)));
}

}  // namespace platform
