// Texts compared ignoring case on POSIX: the narrow encoding is UTF-8, and
// the case fold is our own, so that the order does not depend on the
// locales a machine has installed. The fold maps each upper-case letter of
// the Latin, Greek and Cyrillic blocks to its lower-case one (Unicode's
// simple case folding), one character for one.
#include <cstdint>

#include "platform/Text.h"

namespace platform {
namespace {

// Keys of bytes that start no valid character: above every code point.
constexpr char32_t kStrayByte = 0x110000;

bool IsContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
  return byte >= low && byte <= high;
}

// The character at `i` of valid UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF), or kStrayByte plus the byte at `i`; `i` moves
// past what was read.
char32_t NextCharacter(std::string_view text, size_t& i) {
  const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(i);
  const size_t left = text.size() - i;
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  if (lead >= 0xC2 && lead <= 0xDF && left >= 2 && IsContinuation(byte(i + 1))) {
    const char32_t c = (char32_t{lead} & 0x1F) << 6 | (byte(i + 1) & 0x3F);
    i += 2;
    return c;
  }
  if (lead >= 0xE0 && lead <= 0xEF && left >= 3) {
    // E0 needs A0..BF next (no overlong form), ED needs 80..9F (no surrogate).
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
    if (IsContinuation(byte(i + 1), low, high) && IsContinuation(byte(i + 2))) {
      const char32_t c =
          (char32_t{lead} & 0x0F) << 12 | (byte(i + 1) & 0x3F) << 6 | (byte(i + 2) & 0x3F);
      i += 3;
      return c;
    }
  }
  if (lead >= 0xF0 && lead <= 0xF4 && left >= 4) {
    // F0 needs 90..BF next (no overlong form), F4 needs 80..8F (<= U+10FFFF).
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    if (IsContinuation(byte(i + 1), low, high) && IsContinuation(byte(i + 2)) &&
        IsContinuation(byte(i + 3))) {
      const char32_t c = (char32_t{lead} & 0x07) << 18 | (byte(i + 1) & 0x3F) << 12 |
                         (byte(i + 2) & 0x3F) << 6 | (byte(i + 3) & 0x3F);
      i += 4;
      return c;
    }
  }
  ++i;
  return kStrayByte + lead;
}

// In a run of pairs, the upper-case letter of each pair is the even (or the
// odd) one and its lower-case letter the next.
char32_t PairedLower(char32_t c, bool upperIsEven) {
  return ((c & 1) == 0) == upperIsEven ? c + 1 : c;
}

char32_t FoldLatin(char32_t c) {
  if (c >= 'A' && c <= 'Z')
    return c + 0x20;
  if (c == 0xB5)  // micro sign: Greek mu
    return 0x3BC;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
    return c + 0x20;
  if (c < 0x100)
    return c;
  // Latin Extended-A: pairs, but for a few letters of one case only.
  switch (c) {
    case 0x130:  // capital I with dot: no simple fold
    case 0x131:  // dotless i
    case 0x138:  // kra
    case 0x149:  // n preceded by apostrophe
      return c;
    case 0x178:  // capital Y with diaeresis
      return 0xFF;
    case 0x17F:  // long s
      return 's';
    default:
      break;
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return PairedLower(c, false);
  return PairedLower(c, true);
}

char32_t FoldGreek(char32_t c) {
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)
    return c + 0x20;
  if (c >= 0x388 && c <= 0x38A)
    return c + 0x25;
  if (c >= 0x3FD)
    return c - 0x82;
  if ((c >= 0x370 && c <= 0x373) || (c >= 0x3D8 && c <= 0x3EF))
    return PairedLower(c, true);
  switch (c) {
    case 0x376:
    case 0x3F7:
    case 0x3FA:
      return c + 1;
    case 0x37F:
      return 0x3F3;
    case 0x386:
      return 0x3AC;
    case 0x38C:
      return 0x3CC;
    case 0x38E:
    case 0x38F:
      return c + 0x3F;
    case 0x3C2:  // final sigma
      return 0x3C3;
    case 0x3CF:
      return 0x3D7;
    case 0x3D0:
      return 0x3B2;
    case 0x3D1:
    case 0x3F4:
      return 0x3B8;
    case 0x3D5:
      return 0x3C6;
    case 0x3D6:
      return 0x3C0;
    case 0x3F0:
      return 0x3BA;
    case 0x3F1:
      return 0x3C1;
    case 0x3F5:
      return 0x3B5;
    case 0x3F9:
      return 0x3F2;
    default:
      return c;
  }
}

char32_t FoldCyrillic(char32_t c) {
  if (c <= 0x40F)
    return c + 0x50;
  if (c <= 0x42F)
    return c + 0x20;
  if (c == 0x4C0)
    return 0x4CF;
  if (c >= 0x4C1 && c <= 0x4CE)
    return PairedLower(c, false);
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
    return PairedLower(c, true);
  return c;
}

char32_t FoldCase(char32_t c) {
  if (c < 0x180)
    return FoldLatin(c);
  if (c == 0x345)  // combining Greek ypogegrammeni: iota
    return 0x3B9;
  if (c >= 0x370 && c <= 0x3FF)
    return FoldGreek(c);
  if (c >= 0x400 && c <= 0x52F)
    return FoldCyrillic(c);
  switch (c) {
    case 0x1E9E:  // capital sharp s
      return 0xDF;
    case 0x2126:  // ohm sign: omega
      return 0x3C9;
    case 0x212A:  // kelvin sign
      return 'k';
    case 0x212B:  // angstrom sign: a with ring above
      return 0xE5;
    default:
      return c;
  }
}

}  // namespace

int LocaleCompareText(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t x = static_cast<unsigned char>(a[i]);
    char32_t y = static_cast<unsigned char>(b[j]);
    if (x < 0x80 && y < 0x80) {
      // The common case, without decoding.
      ++i;
      ++j;
      if (x == y)
        continue;
      x = FoldLatin(x);
      y = FoldLatin(y);
    } else {
      x = FoldCase(NextCharacter(a, i));
      y = FoldCase(NextCharacter(b, j));
    }
    if (x != y)
      return x < y ? -1 : 1;
  }
  if (i < a.size())
    return 1;
  return j < b.size() ? -1 : 0;
}

}  // namespace platform
