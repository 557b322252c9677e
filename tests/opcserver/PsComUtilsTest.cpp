// The COM object helpers and utilities: reference counting and interface
// tables, the guard around interface methods, class factories, connection
// points, interface names, security and network credentials.
#include <stdexcept>
#include <vector>

#include "../com/ComTestSupport.h"
#include "opcserver/OPCDA.h"
#include "opcserver/PsComUtils.h"
#include "opcserver/PsOPC.h"

namespace {

using opcserver::ComGuard;
using opcserver::ComObject;
using opcserver::ComPtr;
using opcserver::ConnectionPoints;
using opcserver::ConnectKind;
using opcserver::MakeComObject;

// A client's shutdown sink that records the reasons it is given.
class ShutdownSink : public ComObject<IOPCShutdown> {
 public:
  HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override {
    reasons.push_back(platform::com::WideToUtf8(szReason));
    return S_OK;
  }
  std::vector<std::string> reasons;
};

// A container with a multi-connection point for shutdown sinks and a
// single-connection point for data callbacks, whose connect notification
// the test decides.
class Container : public ComObject<IConnectionPointContainer, ISupportErrorInfo> {
 public:
  Container() {
    shutdown = &points_.Add(IID_IOPCShutdown, ConnectKind::Multiple);
    callback = &points_.Add(IID_IOPCDataCallback, ConnectKind::Single,
                            [this](IUnknown* sink, bool connecting) {
                              notified.push_back({sink, connecting, callback->SinkCount()});
                              if (refuse)
                                throw std::runtime_error("refused");
                            });
  }
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    return points_.EnumConnectionPoints(ppEnum);
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    return points_.FindConnectionPoint(riid, ppCP);
  }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID) override { return S_FALSE; }
  IUnknown* Identity() { return static_cast<IConnectionPointContainer*>(this); }

  struct Notice {
    IUnknown* sink;
    bool connecting;
    size_t sinksCounted;
  };
  std::vector<Notice> notified;
  bool refuse = false;
  opcserver::ConnectionPoint* shutdown;
  opcserver::ConnectionPoint* callback;

 private:
  ConnectionPoints points_{*this};
};

// A data-callback sink; nothing calls its methods here.
class DataCallback : public ComObject<IOPCDataCallback> {
 public:
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                         VARIANT*, WORD*, FILETIME*, HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                           VARIANT*, WORD*, FILETIME*, HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                            HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
};

TEST(PsComUtilsTest, ObjectsAnswerTheirInterfacesAndLiveUntilTheLastRelease) {
  const int64_t before = opcserver::LiveComObjects();
  {
    ComPtr<Container> container = MakeComObject<Container>();
    EXPECT_EQ(opcserver::LiveComObjects(), before + 1);
    EXPECT_EQ(container->RefCount(), 1u);
    ComPtr<ISupportErrorInfo> info = container.As<ISupportErrorInfo>();
    ASSERT_TRUE(info);
    // One identity: IUnknown is the same object whichever interface is asked.
    EXPECT_EQ(info.As<IUnknown>().Get(), container.As<IUnknown>().Get());
    EXPECT_EQ(container->RefCount(), 2u);

    void* none = &none;
    EXPECT_EQ(container->QueryInterface(IID_IOPCServer, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(container->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  }
  EXPECT_EQ(opcserver::LiveComObjects(), before);
}

TEST(PsComUtilsTest, NoExceptionLeavesTheGuard) {
  EXPECT_EQ(ComGuard([] {}), S_OK);
  EXPECT_EQ(ComGuard([] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(ComGuard([]() -> HRESULT { throw std::runtime_error("abort"); }), E_FAIL);
  EXPECT_EQ(ComGuard([]() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_EQ(ComGuard([]() -> HRESULT { throw 42; }), E_FAIL);
}

class ContainerFactory : public opcserver::ComClassFactory {
 public:
  bool fail = false;

 protected:
  ComPtr<IUnknown> CreateObject() override {
    if (fail)
      throw std::runtime_error("Server shut down.");
    return MakeComObject<Container>().As<IUnknown>();
  }
};

TEST(PsComUtilsTest, FactoriesRefuseAggregationAndReportFailedCreations) {
  const int64_t before = opcserver::LiveComObjects();
  {
    ComPtr<ContainerFactory> factory = MakeComObject<ContainerFactory>();
    korva_test::CountedUnknown outer;
    ComPtr<IUnknown> made;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, made.ReceiveVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(made);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOPCServer, made.ReceiveVoid()), E_NOINTERFACE);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IConnectionPointContainer, made.ReceiveVoid()),
              S_OK);
    EXPECT_TRUE(made);
    factory->fail = true;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, made.ReceiveVoid()), E_FAIL);
    EXPECT_FALSE(made);
  }
  EXPECT_EQ(opcserver::LiveComObjects(), before);
}

TEST(PsComUtilsTest, ASinglePointTakesOneSinkOfItsInterface) {
  ComPtr<Container> container = MakeComObject<Container>();
  ComPtr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(IID_IOPCDataCallback, point.Receive()), S_OK);
  // The point's references are its container's.
  EXPECT_EQ(container->RefCount(), 2u);

  ComPtr<ShutdownSink> wrongKind = MakeComObject<ShutdownSink>();
  DWORD cookie = 0;
  EXPECT_EQ(point->Advise(wrongKind.Get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(wrongKind->RefCount(), 1u);

  ComPtr<DataCallback> first = MakeComObject<DataCallback>();
  ComPtr<DataCallback> second = MakeComObject<DataCallback>();
  ASSERT_EQ(point->Advise(first.Get(), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(first->RefCount(), 2u);
  DWORD refused = 0;
  EXPECT_EQ(point->Advise(second.Get(), &refused), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(container->callback->Sinks<IOPCDataCallback>().front().Get(), first.Get());

  EXPECT_EQ(point->Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(first->RefCount(), 1u);
  EXPECT_EQ(point->Advise(second.Get(), &cookie), S_OK);

  // Told of each change while the sink is still counted.
  ASSERT_EQ(container->notified.size(), 3u);
  EXPECT_TRUE(container->notified[0].connecting);
  EXPECT_EQ(container->notified[0].sinksCounted, 1u);
  EXPECT_FALSE(container->notified[1].connecting);
  EXPECT_EQ(container->notified[1].sinksCounted, 1u);
  EXPECT_EQ(container->notified[1].sink, static_cast<IOPCDataCallback*>(first.Get()));
}

TEST(PsComUtilsTest, ARefusingNotificationKeepsNoSink) {
  ComPtr<Container> container = MakeComObject<Container>();
  ComPtr<DataCallback> sink = MakeComObject<DataCallback>();
  container->refuse = true;
  DWORD cookie = 7;
  EXPECT_EQ(container->callback->Advise(sink.Get(), &cookie), E_FAIL);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(container->callback->SinkCount(), 0u);
  EXPECT_EQ(sink->RefCount(), 1u);
}

TEST(PsComUtilsTest, AMultiplePointEnumeratesItsSinksAndReleasesThemWithTheContainer) {
  ComPtr<ShutdownSink> a = MakeComObject<ShutdownSink>();
  ComPtr<ShutdownSink> b = MakeComObject<ShutdownSink>();
  {
    ComPtr<Container> container = MakeComObject<Container>();
    DWORD cookies[2] = {};
    ASSERT_EQ(container->shutdown->Advise(a.Get(), &cookies[0]), S_OK);
    ASSERT_EQ(container->shutdown->Advise(b.Get(), &cookies[1]), S_OK);
    EXPECT_NE(cookies[0], cookies[1]);
    for (const auto& sink : container->shutdown->Sinks<IOPCShutdown>())
      sink->ShutdownRequest(OLESTR("bye"));
    EXPECT_EQ(b->reasons, std::vector<std::string>{"bye"});

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(container->shutdown->EnumConnections(connections.Receive()), S_OK);
    CONNECTDATA data[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(data[1].dwCookie, cookies[1]);
    EXPECT_EQ(data[1].pUnk, static_cast<IOPCShutdown*>(b.Get()));
    // The test's, the point's, the enumerator's and the one handed out.
    EXPECT_EQ(b->RefCount(), 4u);
    data[0].pUnk->Release();
    data[1].pUnk->Release();

    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.Receive()), S_OK);
    EXPECT_EQ(points->Skip(1), S_OK);
    ComPtr<IConnectionPoint> second;
    ASSERT_EQ(points->Next(1, second.Receive(), nullptr), S_OK);
    IID iid = GUID_NULL;
    second->GetConnectionInterface(&iid);
    EXPECT_TRUE(IsEqualIID(iid, IID_IOPCDataCallback));
    EXPECT_EQ(points->Skip(1), S_FALSE);

    ComPtr<IConnectionPoint> missing;
    EXPECT_EQ(container->FindConnectionPoint(IID_IOPCServer, missing.Receive()),
              CONNECT_E_NOCONNECTION);
  }
  EXPECT_EQ(a->RefCount(), 1u);
  EXPECT_EQ(b->RefCount(), 1u);
}

TEST(PsComUtilsTest, AnUnregisteredInterfaceIsNamedByItsId) {
  const IID unknown = {
      0x926B1231, 0xE7E1, 0x4241, {0x86, 0x3C, 0x7A, 0xA5, 0xC5, 0xAB, 0xFC, 0xDF}};
  EXPECT_EQ(opcserver::GetInterfaceName(unknown), "{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}");
}

TEST(PsComUtilsTest, CredentialsPointTheirIdentityAtTheirOwnTexts) {
  opcserver::TPsNetworkCredentials credentials;
  EXPECT_EQ(credentials.Identity().Flags, SEC_WINNT_AUTH_IDENTITY_UNICODE);
  credentials.SetDomain(OLESTR("X"));
  credentials.SetUser(OLESTR("operator"));
  EXPECT_EQ(credentials.Identity().DomainLength, 1u);
  EXPECT_EQ(credentials.Identity().UserLength, 8u);
  EXPECT_EQ(credentials.Identity().PasswordLength, 0u);
  EXPECT_EQ(credentials.Identity().Password, nullptr);

  opcserver::TPsNetworkCredentials copy(credentials);
  opcserver::TPsNetworkCredentials assigned;
  assigned.Assign(&credentials);
  for (const auto* other : {&copy, &assigned}) {
    EXPECT_EQ(other->User(), credentials.User());
    EXPECT_EQ(other->Identity().UserLength, 8u);
    EXPECT_EQ(other->Identity().User, reinterpret_cast<const USHORT*>(other->User().data()));
    EXPECT_EQ(other->Identity().Domain, reinterpret_cast<const USHORT*>(other->Domain().data()));
  }

  credentials.SetDomain(OLESTR(""));
  EXPECT_EQ(credentials.Identity().DomainLength, 0u);
  EXPECT_EQ(credentials.Identity().Domain, nullptr);
  EXPECT_EQ(copy.Identity().DomainLength, 1u);
}

TEST(PsComUtilsTest, CredentialsTakeOnlyCredentials) {
  opcserver::TPsNetworkCredentials credentials;
  vcl::TPersistent other;
  try {
    credentials.Assign(&other);
    FAIL() << "assigned";
  } catch (const vcl::EConvertError& error) {
    EXPECT_STREQ(error.what(), "Cannot assign a TPersistent to a TPsNetworkCredentials");
  }
}

TEST(PsComUtilsTest, ACheckedCastNamesWhatFailed) {
  ComPtr<Container> container = MakeComObject<Container>();
  EXPECT_EQ(opcserver::CheckedCast<ISupportErrorInfo>(container->Identity()).Get(),
            static_cast<ISupportErrorInfo*>(container.Get()));
  EXPECT_EQ(container->RefCount(), 1u);

  const std::string name = opcserver::GetInterfaceName(IID_IOPCServer);
  try {
    opcserver::CheckedCast<IOPCServer>(nullptr);
    FAIL() << "cast nil";
  } catch (const vcl::EIntfCastError& error) {
    EXPECT_EQ(error.Message(), "Cannot cast nil to " + name + ".");
  }
  void* dest = &dest;
  try {
    opcserver::CheckedInterfaceCast(container->Identity(), IID_IOPCServer, &dest);
    FAIL() << "cast to a missing interface";
  } catch (const vcl::EIntfCastError& error) {
    EXPECT_EQ(error.Message(),
              "Interface " + name + " not supported: " + opcserver::OleErrorText(E_NOINTERFACE));
    EXPECT_EQ(opcserver::ExceptionToResult(error), E_NOINTERFACE);
  }
  EXPECT_EQ(dest, nullptr);
  EXPECT_EQ(container->RefCount(), 1u);
}

TEST(PsComUtilsTest, OnlyProxiesTakeCredentials) {
  ComPtr<Container> container = MakeComObject<Container>();
  opcserver::TPsNetworkCredentials credentials;
  void* dest = &dest;
  try {
    credentials.GetInterface(container->Identity(), IID_ISupportErrorInfo, &dest);
    FAIL() << "an object in this process took a blanket";
  } catch (const opcserver::EOleSysError& error) {
    EXPECT_EQ(error.ErrorCode(), E_NOINTERFACE);
  }
  EXPECT_EQ(dest, nullptr);
  EXPECT_EQ(container->RefCount(), 1u);
}

#ifndef _WIN32
TEST(PsComUtilsTest, TheCallersNameIsTakenFromAnAuthenticatedCallOnly) {
  struct Case {
    comstandin::ClientBlanket blanket;
    std::u16string expectedUser;
  };
  const Case cases[] = {
      {{S_OK, RPC_C_AUTHN_WINNT, RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IDENTIFY, u"KORVA\\op"},
       u"KORVA\\op"},
      // No name: none, not the one before.
      {{S_OK, RPC_C_AUTHN_WINNT, RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IDENTIFY, nullptr},
       u""},
      {{S_OK, RPC_C_AUTHN_NONE, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_ANONYMOUS, u"other"},
       u"before"},
  };
  for (const Case& c : cases) {
    opcserver::TPsNetworkCredentials credentials;
    credentials.SetUser(u"before");
    comstandin::SetClientBlanket(c.blanket);
    credentials.GetClientCredentials();
    EXPECT_EQ(credentials.User(), c.expectedUser);
    EXPECT_EQ(credentials.Identity().UserLength, c.expectedUser.size());
  }
  comstandin::SetClientBlanket({E_ACCESSDENIED});
  opcserver::TPsNetworkCredentials credentials;
  try {
    credentials.GetClientCredentials();
    FAIL() << "a failed query passed";
  } catch (const opcserver::EOleSysError& error) {
    EXPECT_EQ(error.ErrorCode(), E_ACCESSDENIED);
    EXPECT_STREQ(error.what(), "OLE-Fehler 80070005");
  }
  comstandin::SetClientBlanket({});
}
#endif

TEST(PsComUtilsTest, BooleansAndBOOLs) {
  EXPECT_TRUE(opcserver::BOOLToBoolean(-1));
  EXPECT_TRUE(opcserver::BOOLToBoolean(2));
  EXPECT_FALSE(opcserver::BOOLToBoolean(0));
  EXPECT_EQ(opcserver::BooleanToBOOL(true), 1);
}

TEST(PsComUtilsTest, RegisteredInterfacesAreNamedByTheRegistry) {
#ifndef _WIN32
  // As the platform registers its own interfaces.
  comstandin::ClearRegistry();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT,
                            OLESTR("Interface\\{B196B286-BAB4-101A-B69C-00AA00341D07}"), 0, nullptr,
                            0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const OLECHAR name[] = OLESTR("IConnectionPoint");
  RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
  RegCloseKey(key);
#endif
  EXPECT_EQ(opcserver::GetInterfaceName(IID_IConnectionPoint), "IConnectionPoint");
#ifndef _WIN32
  comstandin::ClearRegistry();
#endif
}

#ifndef _WIN32
TEST(PsComUtilsTest, SecurityIsSetOnceFromAThreadInAnApartment) {
  comstandin::ForgetSecurity();
  EXPECT_EQ(opcserver::PsInitComSecurity(RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY),
            CO_E_NOTINITIALIZED);
  EXPECT_FALSE(comstandin::RecordedSecurity().has_value());
  ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(opcserver::PsInitComSecurity(RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY), S_OK);
  const auto call = comstandin::RecordedSecurity();
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->authenticationServices, -1);
  EXPECT_EQ(call->authenticationLevel, RPC_C_AUTHN_LEVEL_NONE);
  EXPECT_EQ(call->impersonationLevel, RPC_C_IMP_LEVEL_IDENTIFY);
  EXPECT_EQ(call->capabilities, EOAC_NONE);
  EXPECT_EQ(opcserver::PsInitComSecurity(RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IDENTIFY),
            RPC_E_TOO_LATE);
  CoUninitialize();
  comstandin::ForgetSecurity();
}

TEST(PsComUtilsTest, TheClassTableHandsOutNewObjectsUntilRevoked) {
  const CLSID korvamon = {
      0x926B1231, 0xE7E1, 0x4241, {0x86, 0x3C, 0x7A, 0xA5, 0xC5, 0xAB, 0xFC, 0xDF}};
  ComPtr<ContainerFactory> factory = MakeComObject<ContainerFactory>();
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(korvamon, factory.Get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                  &cookie),
            S_OK);
  EXPECT_EQ(factory->RefCount(), 2u);
  ComPtr<IUnknown> first;
  ComPtr<IUnknown> second;
  EXPECT_EQ(
      CoCreateInstance(korvamon, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, first.ReceiveVoid()),
      S_OK);
  EXPECT_EQ(
      CoCreateInstance(korvamon, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, second.ReceiveVoid()),
      S_OK);
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(factory->RefCount(), 1u);
  ComPtr<IUnknown> third;
  EXPECT_EQ(
      CoCreateInstance(korvamon, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, third.ReceiveVoid()),
      REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
}
#endif

}  // namespace
