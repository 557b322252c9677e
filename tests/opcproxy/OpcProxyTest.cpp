// The OPC interfaces between two processes, through our proxy/stub under the
// platform's COM. regsvr32 has entered every interface with its name (which
// GetInterfaceName reads back) and the DLL's class. The test server, started
// by COM, answers with texts, arrays and a structure whose every value is
// checked: the IDL's method order and parameters agree with our
// declarations, and [out] strings arrive, which widl's stubs alone lose.
// Run by opc_proxy_test.sh in a Wine prefix of its own, after regsvr32.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "OpcTestServer.h"
#include "opcserver/PsComUtils.h"

namespace {

using namespace korva_test;
using opcserver::ComPtr;
using platform::com::GuidToWide;
using platform::com::TaskMemPtr;
using platform::com::Utf8ToWide;
using platform::com::WideString;
using platform::com::WideToUtf8;

struct NamedInterface {
  const IID& iid;
  const char* name;
};
const NamedInterface kInterfaces[] = {
    {IID_IOPCServer, "IOPCServer"},
    {IID_IOPCCommon, "IOPCCommon"},
    {IID_IOPCShutdown, "IOPCShutdown"},
    {IID_IOPCItemProperties, "IOPCItemProperties"},
    {IID_IOPCBrowseServerAddressSpace, "IOPCBrowseServerAddressSpace"},
    {IID_IOPCGroupStateMgt, "IOPCGroupStateMgt"},
    {IID_IOPCItemMgt, "IOPCItemMgt"},
    {IID_IEnumOPCItemAttributes, "IEnumOPCItemAttributes"},
    {IID_IOPCSyncIO, "IOPCSyncIO"},
    {IID_IOPCAsyncIO, "IOPCAsyncIO"},
    {IID_IOPCAsyncIO2, "IOPCAsyncIO2"},
    {IID_IOPCDataCallback, "IOPCDataCallback"},
};

// The default value of a key below HKEY_CLASSES_ROOT; empty when missing.
std::string ClassesText(const WideString& key) {
  OLECHAR text[MAX_PATH] = {};
  DWORD size = sizeof text;
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size) !=
      ERROR_SUCCESS)
    return {};
  return WideToUtf8(text);
}

// This program's folder, with the final backslash.
WideString ProgramFolder() {
  OLECHAR program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  WideString path(program);
  path.resize(path.find_last_of(OLESTR('\\')) + 1);
  return path;
}

// A text received from a call, freed here.
std::string Take(LPWSTR text) {
  const TaskMemPtr<OLECHAR> owner(text);
  return text ? WideToUtf8(text) : "(null)";
}

TEST(OpcProxyRegistration, EveryInterfaceIsNamedAndServedByTheProxyDll) {
  const std::string proxyClass = ClassesText(OLESTR("Interface\\") + GuidToWide(IID_IOPCServer) +
                                             OLESTR("\\ProxyStubClsid32"));
  ASSERT_FALSE(proxyClass.empty());
  for (const auto& [iid, name] : kInterfaces) {
    EXPECT_EQ(opcserver::GetInterfaceName(iid), name);
    EXPECT_EQ(ClassesText(OLESTR("Interface\\") + GuidToWide(iid) + OLESTR("\\ProxyStubClsid32")),
              proxyClass)
        << name;
  }
  const std::string dll =
      ClassesText(OLESTR("CLSID\\") + Utf8ToWide(proxyClass) + OLESTR("\\InprocServer32"));
  std::string file = dll.substr(dll.find_last_of('\\') + 1);
  for (char& c : file)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(file, "korvaopcps.dll") << dll;
}

// One server for all calls: a server whose last object is gone ends, and an
// activation in that moment may reach its class object while it leaves.
class OpcProxyCalls : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    RegisterTestServer();
    ASSERT_EQ(CoCreateInstance(CLSID_KorvaTestOpcServer, nullptr, CLSCTX_LOCAL_SERVER,
                               IID_IOPCServer, server_.ReceiveVoid()),
              S_OK);
  }
  static void TearDownTestSuite() {
    server_.Reset();
    CoUninitialize();
  }

  // The server beside this program, started by COM in a process of its own.
  static void RegisterTestServer() {
    const WideString command =
        OLESTR("\"") + ProgramFolder() + Utf8ToWide(kTestServerProgram) + OLESTR("\"");
    SetClassesText(
        OLESTR("CLSID\\") + GuidToWide(CLSID_KorvaTestOpcServer) + OLESTR("\\LocalServer32"),
        command);
    SetClassesText(Utf8ToWide(kTestServerProgId) + OLESTR("\\CLSID"),
                   GuidToWide(CLSID_KorvaTestOpcServer));
  }
  static void SetClassesText(const WideString& key, const WideString& text) {
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, text.c_str(),
                              static_cast<DWORD>((text.size() + 1) * sizeof(OLECHAR))),
              ERROR_SUCCESS);
  }

  void SetUp() override { ASSERT_TRUE(server_); }

  static inline ComPtr<IOPCServer> server_;
};

// The console client finds the running server by its ProgID and prints its
// status; the test server has no address space, so the client stops there.
TEST_F(OpcProxyCalls, OpcClientFindsTheServerByItsProgId) {
  const std::string command = WideToUtf8(ProgramFolder()) + "opcclient.exe --progid " +
                              kTestServerProgId + " --timeout 5 2>&1";
  FILE* client = _popen(command.c_str(), "r");
  ASSERT_NE(client, nullptr);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, client))
    output += buffer;
  EXPECT_EQ(_pclose(client), 1) << output;
  EXPECT_NE(output.find(std::string("vendor \"") + kVendorInfo + "\""), std::string::npos)
      << output;
  EXPECT_NE(output.find("browsing to the root failed with 0x80004001"), std::string::npos)
      << output;
}

TEST_F(OpcProxyCalls, ServerStatusArrivesFieldByField) {
  OPCSERVERSTATUS* received = nullptr;
  ASSERT_EQ(server_->GetStatus(&received), S_OK);
  ASSERT_NE(received, nullptr);
  const TaskMemPtr<OPCSERVERSTATUS> status(received);
  const FILETIME times[] = {status->ftStartTime, status->ftCurrentTime, status->ftLastUpdateTime};
  for (DWORD i = 0; i < 3; ++i) {
    EXPECT_EQ(times[i].dwLowDateTime, TestTime(i).dwLowDateTime) << i;
    EXPECT_EQ(times[i].dwHighDateTime, TestTime(i).dwHighDateTime) << i;
  }
  EXPECT_EQ(status->dwServerState, OPC_STATUS_TEST);
  EXPECT_EQ(status->dwGroupCount, kStatusGroupCount);
  EXPECT_EQ(status->dwBandWidth, kStatusBandWidth);
  EXPECT_EQ(status->wMajorVersion, kStatusMajor);
  EXPECT_EQ(status->wMinorVersion, kStatusMinor);
  EXPECT_EQ(status->wBuildNumber, kStatusBuild);
  EXPECT_EQ(Take(status->szVendorInfo), kVendorInfo);
}

// widl's stubs answer S_OK and leave an [out] string null unless mended.
TEST_F(OpcProxyCalls, OutStringsArriveWithTheirText) {
  LPWSTR text = nullptr;
  EXPECT_EQ(server_->GetErrorString(OPC_E_UNKNOWNITEMID, 0x0407, &text), S_OK);
  EXPECT_EQ(Take(text), TestErrorText(OPC_E_UNKNOWNITEMID, 0x0407));

  const ComPtr<IOPCCommon> common = server_.As<IOPCCommon>();
  ASSERT_TRUE(common);
  EXPECT_EQ(common->SetLocaleID(0x0407), S_OK);
  EXPECT_EQ(common->SetLocaleID(0x0410), E_INVALIDARG);
  LCID locale = 0;
  EXPECT_EQ(common->GetLocaleID(&locale), S_OK);
  EXPECT_EQ(locale, 0x0407u);
  text = nullptr;
  EXPECT_EQ(common->GetErrorString(E_FAIL, &text), S_OK);
  EXPECT_EQ(Take(text), TestErrorText(E_FAIL, 0x0407));

  const ComPtr<IOPCBrowseServerAddressSpace> browse = server_.As<IOPCBrowseServerAddressSpace>();
  ASSERT_TRUE(browse);
  OPCNAMESPACETYPE organization = OPC_NS_HIERARCHIAL;
  EXPECT_EQ(browse->QueryOrganization(&organization), S_OK);
  EXPECT_EQ(organization, OPC_NS_FLAT);
  WideString name = Utf8ToWide("Status");
  text = nullptr;
  EXPECT_EQ(browse->GetItemID(name.data(), &text), S_OK);
  EXPECT_EQ(Take(text), TestItemId("Status"));
}

// Arrays of numbers and of strings; the strings' arrays carry no repeated
// [string], with which widl's stubs refuse the call.
TEST_F(OpcProxyCalls, ArraysArriveWholeIncludingArraysOfStrings) {
  const ComPtr<IOPCCommon> common = server_.As<IOPCCommon>();
  ASSERT_TRUE(common);
  DWORD count = 0;
  LCID* locales = nullptr;
  ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, &locales), S_OK);
  const TaskMemPtr<LCID> localesOwner(locales);
  EXPECT_EQ(std::vector<LCID>(locales, locales + count),
            std::vector<LCID>(std::begin(kTestLocales), std::end(kTestLocales)));

  const ComPtr<IOPCItemProperties> properties = server_.As<IOPCItemProperties>();
  ASSERT_TRUE(properties);
  WideString item = Utf8ToWide("Korva.Status");
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  ASSERT_EQ(properties->QueryAvailableProperties(item.data(), &count, &ids, &descriptions, &types),
            S_OK);
  const TaskMemPtr<DWORD> idsOwner(ids);
  const TaskMemPtr<LPWSTR> descriptionsOwner(descriptions);
  const TaskMemPtr<VARTYPE> typesOwner(types);
  ASSERT_EQ(count, std::size(kTestPropertyIds));
  for (DWORD i = 0; i < count; ++i) {
    EXPECT_EQ(ids[i], kTestPropertyIds[i]);
    EXPECT_EQ(Take(descriptions[i]), kTestPropertyNames[i]);
    EXPECT_EQ(types[i], kTestPropertyTypes[i]);
  }

  DWORD wanted[] = {OPC_PROP_HIEU, OPC_PROP_LOEU, OPC_PROP_UNIT};
  LPWSTR* itemIds = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(properties->LookupItemIDs(item.data(), 3, wanted, &itemIds, &errors), S_OK);
  const TaskMemPtr<LPWSTR> itemIdsOwner(itemIds);
  const TaskMemPtr<HRESULT> errorsOwner(errors);
  for (DWORD i = 0; i < 3; ++i) {
    EXPECT_EQ(Take(itemIds[i]), TestPropertyItemId("Korva.Status", wanted[i]));
    EXPECT_EQ(errors[i], S_OK);
  }
}

}  // namespace
