// What the test OPC server and its client share: the server's class and the
// answers the client expects through the proxy/stub.
#pragma once

#include <cstdio>
#include <iterator>
#include <string>

#include "opcserver/OPCDA.h"

namespace korva_test {

// {026E34CA-4562-45EC-B23E-DE360D1B0CF6}, the test server's class.
inline constexpr CLSID CLSID_KorvaTestOpcServer = {
    0x026E34CA, 0x4562, 0x45EC, {0xB2, 0x3E, 0xDE, 0x36, 0x0D, 0x1B, 0x0C, 0xF6}};

inline constexpr const char* kTestServerProgram = "opc_test_server.exe";
inline constexpr const char* kTestServerProgId = "Korva.TestOpcServer";

// GetStatus: a value of its own in every field, so a field out of place shows.
inline FILETIME TestTime(DWORD n) {
  return {0x01D9A000 + n, 0x01DA0000 + n};
}
inline constexpr DWORD kStatusGroupCount = 3;
inline constexpr DWORD kStatusBandWidth = 0xFFFFFFFF;
inline constexpr WORD kStatusMajor = 1;
inline constexpr WORD kStatusMinor = 2;
inline constexpr WORD kStatusBuild = 345;
inline constexpr const char* kVendorInfo = "Korva test server";

// The locales the server offers, the first its default.
inline constexpr LCID kTestLocales[] = {0x0409, 0x0407};

// The item properties the server lists, with their names and types.
inline constexpr DWORD kTestPropertyIds[] = {OPC_PROP_CDT, OPC_PROP_DESC};
inline constexpr VARTYPE kTestPropertyTypes[] = {VT_I2, VT_BSTR};
inline constexpr const char* kTestPropertyNames[] = {"Item Canonical DataType", "Item Description"};

// The text of an error code: both of its parameters show in it.
inline std::string TestErrorText(HRESULT code, LCID locale) {
  char text[64];
  std::snprintf(text, sizeof text, "error 0x%08lX in locale %lu", static_cast<unsigned long>(code),
                static_cast<unsigned long>(locale));
  return text;
}

// An item's full id, and the id of one of its properties.
inline std::string TestItemId(const std::string& name) {
  return "Korva." + name;
}
inline std::string TestPropertyItemId(const std::string& item, DWORD property) {
  return item + "." + std::to_string(property);
}

}  // namespace korva_test
