// GUIDs of the stand-in: comparison and the braced text form.
#include <cstring>

#include "platform/com/Com.h"

namespace {

int HexDigit(OLECHAR c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", hex digits of either case.
bool ParseGuid(LPCOLESTR text, GUID& guid) {
  constexpr size_t kLength = 38;
  if (!text || platform::com::WideLength(text) != kLength || text[0] != '{' ||
      text[kLength - 1] != '}')
    return false;
  uint8_t bytes[16];
  size_t pos = 1;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      if (text[pos++] != '-')
        return false;
    }
    const int high = HexDigit(text[pos++]);
    const int low = HexDigit(text[pos++]);
    if (high < 0 || low < 0)
      return false;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  guid.Data1 =
      uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
  guid.Data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(guid.Data4, bytes + 8, 8);
  return true;
}

}  // namespace

bool IsEqualGUID(REFGUID a, REFGUID b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  const platform::com::WideString text = platform::com::GuidToWide(rguid);
  if (!lpsz || cchMax < static_cast<int>(text.size()) + 1)
    return 0;
  text.copy(lpsz, text.size());
  lpsz[text.size()] = 0;
  return static_cast<int>(text.size()) + 1;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (!pclsid)
    return E_INVALIDARG;
  return ParseGuid(lpsz, *pclsid) ? S_OK : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
  if (!lpiid)
    return E_INVALIDARG;
  return ParseGuid(lpsz, *lpiid) ? S_OK : E_INVALIDARG;
}
