#include "ValueText.h"

#include <cstdio>

#include "opcserver/OPCDA.h"
#include "platform/com/ComHandles.h"

namespace opcclient {

std::string ValueText(const VARIANT& value) {
  platform::com::OleVariant text;
  if (SUCCEEDED(VariantChangeTypeEx(text.Get(), const_cast<VARIANT*>(&value), LOCALE_INVARIANT,
                                    VARIANT_ALPHABOOL, VT_BSTR)))
    return platform::com::WideToUtf8(text->bstrVal);
  return TypeText(value.vt);
}

std::string TypeText(VARTYPE type) {
  char text[32];
  std::snprintf(text, sizeof text, "(type 0x%04X)", static_cast<unsigned>(type));
  return text;
}

std::string TimeText(const FILETIME& time) {
  SYSTEMTIME utc{};
  if (time.dwLowDateTime == 0 && time.dwHighDateTime == 0)
    return "-";
  if (!FileTimeToSystemTime(&time, &utc))
    return "(bad time)";
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u UTC", utc.wYear, utc.wMonth,
                utc.wDay, utc.wHour, utc.wMinute, utc.wSecond, utc.wMilliseconds);
  return text;
}

std::string ResultText(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

std::string QualityText(WORD quality) {
  const WORD field = quality & OPC_QUALITY_MASK;
  const char* kind = field == OPC_QUALITY_GOOD        ? "good"
                     : field == OPC_QUALITY_UNCERTAIN ? "uncertain"
                     : field == OPC_QUALITY_BAD       ? "bad"
                                                      : "invalid";
  char text[32];
  std::snprintf(text, sizeof text, "%s 0x%02X", kind, static_cast<unsigned>(quality));
  return text;
}

}  // namespace opcclient
