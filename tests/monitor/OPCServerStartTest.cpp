// korvamon's OPC server from start to end: registered before the windows,
// running once the loop runs, and gone with the program.
#include "KorvamonTestProgram.h"
#include "opcserver/opc_provider.h"

namespace {

using OPCServerStartTest = korva_test::KorvamonTest;

TEST_F(OPCServerStartTest, TheServerRunsOnceTheLoopRunsAndLeavesWithTheProgram) {
  Start();
  ASSERT_NE(opcserver::OPCServer, nullptr);
  EXPECT_EQ(opcserver::OPCServer->ServerName(), "KORVA_UPS.OPC");
  EXPECT_EQ(opcserver::OPCServer->GetCLSID(), "{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}");
  EXPECT_TRUE(opcserver::OPCServer->Factory().Registered());
  loop().ProcessMessages();
  EXPECT_EQ(opcserver::OPCServer->State(), OPC_STATUS_RUNNING);

  opcserver::ComPtr<IOPCServer> client;
#ifndef _WIN32
  // In-process, the class table of the stand-in finds the registered object.
  ASSERT_EQ(CoCreateInstance(opcserver::OPCServer->ClassID(), nullptr, CLSCTX_LOCAL_SERVER,
                             IID_IOPCServer, client.ReceiveVoid()),
            S_OK);
#else
  ASSERT_EQ(
      opcserver::OPCServer->Factory().CreateInstance(nullptr, IID_IOPCServer, client.ReceiveVoid()),
      S_OK);
#endif
  program::EndProgram();
  EXPECT_EQ(opcserver::OPCServer, nullptr);
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(client->GetStatus(&status), E_FAIL);
}

// The program's end tells the server's clients once that it shuts down.
TEST_F(OPCServerStartTest, TheServerIsShutDownOnceAtTheEnd) {
  Start();
  loop().ProcessMessages();
  int shutdowns = 0;
  opcserver::OPCServer->OnShutdown = [&](vcl::TObject*, const std::string&) { ++shutdowns; };
  program::EndProgram();
  EXPECT_EQ(shutdowns, 1);
}

// The main thread is in the multithreaded apartment before the security
// call and the class object, and leaves it at the end. A later apartment of
// the other model shows which one the thread is in (or that it is in none).
TEST_F(OPCServerStartTest, COMIsEnteredMultithreadedBeforeTheServerAndLeftAtTheEnd) {
#ifndef _WIN32
  comstandin::ForgetSecurity();
#endif
  Start();
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
#ifndef _WIN32
  const auto security = comstandin::RecordedSecurity();
  ASSERT_TRUE(security.has_value());
  EXPECT_EQ(security->authenticationLevel, RPC_C_AUTHN_LEVEL_NONE);
  EXPECT_EQ(security->impersonationLevel, RPC_C_IMP_LEVEL_IDENTIFY);
#endif
  EXPECT_TRUE(opcserver::OPCServer->Factory().Registered());

  program::EndProgram();
  const HRESULT afterEnd = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(afterEnd, S_OK);
  if (SUCCEEDED(afterEnd))
    CoUninitialize();
}

}  // namespace
