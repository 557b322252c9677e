// What korvamon's OPC server is known by: the class id clients create, its
// ProgID, description and vendor, and the type library registered with the
// program. The server object takes its values from here at start-up, and
// the registration writes the same ones.
#pragma once

namespace opcserver {

inline constexpr char kServerClassId[] = "{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}";
inline constexpr char kServerName[] = "KORVA_UPS.OPC";
inline constexpr char kServerDescription[] = "KORVA UPS OPC Server";
inline constexpr char kServerVendor[] = "Korva";
inline constexpr char kServerVendorInfo[] = "https://www.korva.example/";

// The program's type library: empty, only there to be registered. Its IDL
// (opcserver/idl/korvamon.idl) says the same.
inline constexpr char kTypeLibraryId[] = "{E396CD63-C36C-4DB0-B93B-84583807754B}";
inline constexpr char kTypeLibraryName[] = "korvamon";
inline constexpr char kTypeLibraryHelpText[] = "KORVA DCOM  Library";
inline constexpr unsigned short kTypeLibraryMajorVersion = 1;
inline constexpr unsigned short kTypeLibraryMinorVersion = 0;

}  // namespace opcserver
