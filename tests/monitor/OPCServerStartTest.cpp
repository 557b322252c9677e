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
  monitor::EndProgram();
  EXPECT_EQ(opcserver::OPCServer, nullptr);
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(client->GetStatus(&status), E_FAIL);
}

}  // namespace
