// Wide text and GUID text, the same code in both builds (OLECHAR is a
// 16-bit code unit in each).
#include <array>

#include "platform/com/Com.h"

namespace platform::com {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char32_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendUtf16(WideString& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<OLECHAR>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<OLECHAR>(0xD800 + (c >> 10)));
    out.push_back(static_cast<OLECHAR>(0xDC00 + (c & 0x3FF)));
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// One code point from UTF-8 at `pos`, which moves past it. A malformed
// sequence yields U+FFFD and moves past its longest valid beginning (at
// least one byte), so the next character is not swallowed.
char32_t DecodeUtf8(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos++);
  if (lead < 0x80)
    return lead;
  int more = 0;
  char32_t c = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    more = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    more = 2;
    c = lead & 0x0F;
    if (lead == 0xE0)
      low = 0xA0;  // no overlong forms
    if (lead == 0xED)
      high = 0x9F;  // no encoded surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    more = 3;
    c = lead & 0x07;
    if (lead == 0xF0)
      low = 0x90;
    if (lead == 0xF4)
      high = 0x8F;  // nothing above U+10FFFF
  } else {
    return kReplacement;
  }
  for (int i = 0; i < more; ++i) {
    if (pos >= text.size() || byte(pos) < low || byte(pos) > high)
      return kReplacement;
    c = (c << 6) | (byte(pos++) & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return c;
}

constexpr char kHex[] = "0123456789ABCDEF";

}  // namespace

size_t WideLength(const OLECHAR* text) {
  size_t n = 0;
  if (text)
    while (text[n] != 0)
      ++n;
  return n;
}

int WideCompare(const OLECHAR* a, const OLECHAR* b) {
  const WideView left(a ? a : OLESTR(""), WideLength(a));
  const WideView right(b ? b : OLESTR(""), WideLength(b));
  for (size_t i = 0; i < left.size() && i < right.size(); ++i) {
    const auto x = static_cast<uint16_t>(left[i]);
    const auto y = static_cast<uint16_t>(right[i]);
    if (x != y)
      return x < y ? -1 : 1;
  }
  if (left.size() == right.size())
    return 0;
  return left.size() < right.size() ? -1 : 1;
}

LPOLESTR WideToTaskMem(WideView text) {
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (copy) {
    text.copy(copy, text.size());
    copy[text.size()] = 0;
  }
  return copy;
}

WideString Utf8ToWide(std::string_view utf8) {
  WideString out;
  out.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size())
    AppendUtf16(out, DecodeUtf8(utf8, pos));
  return out;
}

std::string WideToUtf8(WideView wide) {
  std::string out;
  out.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t c = static_cast<uint16_t>(wide[i]);
    if (IsHighSurrogate(c) && i + 1 < wide.size() &&
        IsLowSurrogate(static_cast<uint16_t>(wide[i + 1]))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(wide[++i]) - 0xDC00);
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string GuidToString(REFGUID guid) {
  std::array<uint8_t, 16> bytes{};
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<uint8_t>(guid.Data1 >> (24 - 8 * i));
  for (int i = 0; i < 2; ++i) {
    bytes[4 + i] = static_cast<uint8_t>(guid.Data2 >> (8 - 8 * i));
    bytes[6 + i] = static_cast<uint8_t>(guid.Data3 >> (8 - 8 * i));
  }
  for (int i = 0; i < 8; ++i)
    bytes[8 + i] = guid.Data4[i];
  std::string text = "{";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10)
      text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0xF]);
  }
  text.push_back('}');
  return text;
}

WideString GuidToWide(REFGUID guid) {
  const std::string text = GuidToString(guid);
  return WideString(text.begin(), text.end());
}

}  // namespace platform::com
