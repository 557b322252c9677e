// The server object and the client object's server interfaces: start,
// status, clients coming and going, shutdown, the server's window and log,
// the locale and error texts, and hostile arguments.
#include <chrono>
#include <thread>

#include "OPCServerTestSupport.h"
#include "opcserver/PsOPC.h"
#include "platform/Files.h"
#include "platform/Services.h"
#include "toolkit/PsUtils.h"
#include "vcl/MessageWindow.h"

namespace {

using korva_test::ShutdownSink;
using opcserver::ComPtr;
using opcserver::TPsOPCProviderClient;

class PsOPCProviderTest : public korva_test::OPCServerTest {
 protected:
  // The status, its vendor text freed; the state and the vendor text kept.
  OPCSERVERSTATUS Status(IOPCServer* client, std::string* vendorInfo = nullptr) {
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(client->GetStatus(&status), S_OK);
    if (!status)
      return {};
    OPCSERVERSTATUS copy = *status;
    if (vendorInfo)
      *vendorInfo = platform::com::WideToUtf8(status->szVendorInfo);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    copy.szVendorInfo = nullptr;
    return copy;
  }
};

TEST_F(PsOPCProviderTest, AClientMadeBeforeTheServerRunsWaitsAndIsServedOnceItRuns) {
  ComPtr<IOPCServer> early;
  HRESULT made = E_UNEXPECTED;
  std::thread client([&] { made = Connect(early); });
  // Long enough for the creation to reach its wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(server().GetClientCount(), 0);
  EXPECT_EQ(server().State(), OPC_STATUS_NOCONFIG);

  Run();
  client.join();
  ASSERT_EQ(made, S_OK);
  EXPECT_EQ(Status(early.Get()).dwServerState, OPC_STATUS_RUNNING);
  EXPECT_EQ(server().GetClientCount(), 1);
}

TEST_F(PsOPCProviderTest, TheStatusTellsStateTimesVersionAndVendor) {
  // A client attached by hand sees the server before it runs.
  ComPtr<TPsOPCProviderClient> direct = opcserver::MakeComObject<TPsOPCProviderClient>();
  direct->SetProvider(&server());
  EXPECT_EQ(Status(direct.Get()).dwServerState, OPC_STATUS_NOCONFIG);

  Run();
  const vcl::TDateTime before = toolkit::NowUTC();
  std::string vendorInfo;
  const OPCSERVERSTATUS status = Status(direct.Get(), &vendorInfo);
  EXPECT_EQ(status.dwServerState, OPC_STATUS_RUNNING);
  EXPECT_EQ(status.dwGroupCount, 0u);
  EXPECT_EQ(status.dwBandWidth, 0u);
  EXPECT_EQ(vendorInfo, "http://vendor.example");
  auto time = [](const FILETIME& t) {
    return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
  };
  EXPECT_EQ(time(status.ftStartTime), toolkit::DateTimeToFileTime(server().StartTime()));
  EXPECT_GE(time(status.ftCurrentTime), toolkit::DateTimeToFileTime(before));
  EXPECT_EQ(time(status.ftLastUpdateTime), 0u);

  uint16_t version[4] = {};
  if (toolkit::PsGetFileVersion(platform::files().ExecutablePath(), version[0], version[1],
                                version[2], version[3])) {
    EXPECT_EQ(status.wMajorVersion, version[0]);
    EXPECT_EQ(status.wMinorVersion, version[1]);
    EXPECT_EQ(status.wBuildNumber, version[3]);
  } else {
    server().Version = 7;
    EXPECT_EQ(Status(direct.Get()).wMajorVersion, 7);
  }
  EXPECT_EQ(direct->GetStatus(nullptr), E_INVALIDARG);
  direct->SetProvider(nullptr);
  Run();
}

// Version 3.1.2.11 is 3, 1, 11, 2 in the file's words; the status tells 3.1
// build 2.
TEST(ServerStatusVersionTest, TheBuildIsTheVersionsThirdNumber) {
  OPCSERVERSTATUS status{};
  opcserver::SetStatusVersion(status, std::array<uint16_t, 4>{3, 1, 11, 2}, 7);
  EXPECT_EQ(status.wMajorVersion, 3);
  EXPECT_EQ(status.wMinorVersion, 1);
  EXPECT_EQ(status.wBuildNumber, 2);
  opcserver::SetStatusVersion(status, std::nullopt, 7);
  EXPECT_EQ(status.wMajorVersion, 7);
  EXPECT_EQ(status.wMinorVersion, 0);
  EXPECT_EQ(status.wBuildNumber, 0);
}

TEST_F(PsOPCProviderTest, ClientsAreNamedByTheirPlaceAndLeaveWithTheirLastRelease) {
  Run();
  const int64_t objects = opcserver::LiveComObjects();
  ComPtr<IOPCServer> first = Connect();
  ComPtr<IOPCServer> second = Connect();
  EXPECT_EQ(server().GetClientCount(), 2);
  first.Reset();
  Run();
  EXPECT_EQ(server().GetClientCount(), 1);
  ComPtr<IOPCCommon> common = second.As<IOPCCommon>();
  EXPECT_EQ(common->SetClientName(OLESTR("%s%n%x")), S_OK);
  second.Reset();
  common.Reset();
  Run();
  EXPECT_EQ(server().GetClientCount(), 0);
  EXPECT_EQ(opcserver::LiveComObjects(), objects);
  EXPECT_EQ(logged, (std::vector<std::string>{
                        "Server started. ProgID=KORVA_UPS.OPC, "
                        "CLSID={926B1231-E7E1-4241-863C-7AA5C5ABFCDF}, Version=0, Vendor=Vendor, "
                        "VendorInfo=http://vendor.example, ReadOnly=False",
                        "Client 'Client 0' connected.",
                        "Client 'Client 1' connected.",
                        "Client 'Client 0' disconnected.",
                        "Client 1: IOPCServer.SetClientName(\"%s%n%x\")",
                        "Client '%s%n%x' disconnected.",
                    }));
}

TEST_F(PsOPCProviderTest, AReleaseOnAnotherThreadFreesTheClientOnTheMainThread) {
  Run();
  ComPtr<IOPCServer> client = Connect();
  std::thread([&] { client.Reset(); }).join();
  EXPECT_EQ(server().GetClientCount(), 1);
  Run();
  EXPECT_EQ(server().GetClientCount(), 0);
}

TEST_F(PsOPCProviderTest, ShutdownTellsEverySinkLastFirstAndDisconnectsEveryClient) {
  Run();
  ComPtr<IOPCServer> client = Connect();
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(client.As<IConnectionPointContainer>()->FindConnectionPoint(IID_IOPCShutdown,
                                                                        point.Receive()),
            S_OK);
  std::vector<std::string> heard;
  DWORD cookies[2] = {};
  for (int i = 0; i < 2; ++i) {
    auto sink = opcserver::MakeComObject<ShutdownSink>(heard, "sink" + std::to_string(i));
    ASSERT_EQ(point->Advise(sink.As<IUnknown>().Get(), &cookies[i]), S_OK);
  }
  std::string reason = "-";
  server().OnShutdown = [&](vcl::TObject*, const std::string& text) { reason = text; };

  vcl::PostMessage(server().Window(), opcserver::kShutdownMessage, 0, 0);
  Run();
  EXPECT_EQ(heard, (std::vector<std::string>{"sink1:", "sink0:"}));
  EXPECT_EQ(reason, "");
  EXPECT_EQ(server().State(), OPC_STATUS_SUSPENDED);
  EXPECT_EQ(server().GetClientCount(), 0);
  // Still held by its client, but without a server.
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(client->GetStatus(&status), E_FAIL);
  EXPECT_EQ(status, nullptr);

  ComPtr<IOPCServer> late;
  EXPECT_EQ(Connect(late), E_FAIL);
  EXPECT_FALSE(late);
  EXPECT_EQ(server().GetClientCount(), 0);
  EXPECT_EQ(point->Unadvise(cookies[0]), S_OK);
  EXPECT_EQ(point->Unadvise(cookies[1]), S_OK);
  EXPECT_EQ(logged.back(), "Client 'Client 0' disconnected.");
  server().OnShutdown = nullptr;
}

TEST_F(PsOPCProviderTest, TheIdentityStaysWhileTheServerRuns) {
  server().SetServerName("OTHER.OPC");
  server().SetServerName("KORVA_UPS.OPC");
  Run();
  // The same values change nothing and raise nothing.
  server().SetCLSID("{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}");
  server().SetServerName("KORVA_UPS.OPC");
  try {
    server().SetCLSID("{00000000-0000-0000-0000-000000000001}");
    ADD_FAILURE() << "changed while running";
  } catch (const opcserver::EPsOPCProviderException& error) {
    EXPECT_STREQ(error.what(), "Cannot change TPsOPCProvider.ClassID/CLSID when running.");
  }
  EXPECT_THROW(server().SetServerName("OTHER.OPC"), opcserver::EPsOPCProviderException);
  EXPECT_EQ(server().GetCLSID(), "{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}");
  EXPECT_EQ(server().Factory().GetProgID(), "KORVA_UPS.OPC");
}

TEST_F(PsOPCProviderTest, OnlyTheProgramsOwnMessagesStartOrStopTheServer) {
  // The window is no form: what the platform sends its windows never gets there.
  EXPECT_TRUE(vcl::IsMessageWindow(server().Window()));
  EXPECT_EQ(vcl::FindForm(server().Window()), nullptr);
  vcl::TForm* form = vcl::Application().CreateForm<vcl::TForm>();
  // Only the low byte of wParam tells start from stop.
  EXPECT_EQ(vcl::SendMessage(server().Window(), opcserver::kRunMessage, 0x100, 0), 0);
  EXPECT_EQ(server().State(), OPC_STATUS_NOCONFIG);
  vcl::SendMessage(form->Handle(), opcserver::kRunMessage, 1, 0);
  vcl::SendMessage(form->Handle(), opcserver::kShutdownMessage, 0, 0);
  EXPECT_EQ(server().State(), OPC_STATUS_NOCONFIG);
  Run();
  EXPECT_EQ(server().State(), OPC_STATUS_RUNNING);
  vcl::SendMessage(form->Handle(), opcserver::kShutdownMessage, 0, 0);
  EXPECT_EQ(server().State(), OPC_STATUS_RUNNING);

  EXPECT_EQ(vcl::SendMessage(server().Window(), 1026, 0, 0), -1);
  EXPECT_EQ(vcl::SendMessage(server().Window(), opcserver::kShutdownMessage, 1, 0), 0);
  EXPECT_EQ(server().State(), OPC_STATUS_RUNNING);
  EXPECT_EQ(vcl::SendMessage(server().Window(), opcserver::kShutdownMessage, 0x100, 0), 0);
  EXPECT_EQ(server().State(), OPC_STATUS_SUSPENDED);
}

TEST_F(PsOPCProviderTest, TheWindowFreesWhatItIsGivenOnTheMainThread) {
  struct Marked : vcl::TObject {
    explicit Marked(int& freed) : freed(freed) {}
    ~Marked() override { ++freed; }
    int& freed;
  };
  int freed = 0;
  for (int i = 0; i < 2; ++i)
    vcl::PostMessage(server().Window(), opcserver::kFreeObjectMessage,
                     reinterpret_cast<uintptr_t>(new Marked(freed)), 0);
  EXPECT_EQ(freed, 0);
  Run();
  EXPECT_EQ(freed, 2);
  EXPECT_EQ(vcl::SendMessage(server().Window(), opcserver::kFreeObjectMessage, 0, 0), 0);
}

TEST_F(PsOPCProviderTest, HandlesAndLogLinesComeFromAnyThread) {
  Run();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([this] {
      for (int i = 0; i < 100; ++i) {
        server().NextHandle();
        server().Log("line %d", i);
      }
    });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(server().NextHandle(), 401u);
  Run();
  EXPECT_EQ(logged.size(), 401u);
}

TEST_F(PsOPCProviderTest, LocaleAndErrorTexts) {
  Run();
  ComPtr<IOPCCommon> common = Connect().As<IOPCCommon>();
  EXPECT_EQ(common->SetLocaleID(1033), E_INVALIDARG);
  EXPECT_EQ(common->SetLocaleID(LOCALE_SYSTEM_DEFAULT), S_OK);
  LCID locale = 0;
  EXPECT_EQ(common->GetLocaleID(&locale), S_OK);
  EXPECT_EQ(locale, 2048u);

  DWORD count = 0;
  LCID* locales = nullptr;
  ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, &locales), S_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(locales[0], 2048u);
  CoTaskMemFree(locales);

  LPWSTR text = nullptr;
  ASSERT_EQ(common->GetErrorString(static_cast<HRESULT>(0xC0040007), &text), S_OK);
  EXPECT_EQ(platform::com::WideToUtf8(text), "Unknown ItemID");
  CoTaskMemFree(text);
  ASSERT_EQ(common.As<IOPCServer>()->GetErrorString(OPC_E_INVALID_PID, 1033, &text), S_OK);
  EXPECT_EQ(platform::com::WideToUtf8(text), "Invalid Property ID");
  CoTaskMemFree(text);

  EXPECT_EQ(common->GetLocaleID(nullptr), E_INVALIDARG);
  EXPECT_EQ(common->QueryAvailableLocaleIDs(nullptr, &locales), E_INVALIDARG);
  EXPECT_EQ(locales, nullptr);
  EXPECT_EQ(common->GetErrorString(S_OK, nullptr), E_INVALIDARG);
  EXPECT_EQ(common->SetClientName(nullptr), E_INVALIDARG);
}

TEST_F(PsOPCProviderTest, TheClientTellsWhichInterfacesReportErrors) {
  Run();
  ComPtr<ISupportErrorInfo> info = Connect().As<ISupportErrorInfo>();
  EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IOPCServer), S_OK);
  EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IOPCBrowseServerAddressSpace), S_OK);
  EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IOPCGroupStateMgt), S_FALSE);
  void* none = &none;
  EXPECT_EQ(info->QueryInterface(IID_IOPCServerPublicGroups, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
