// How long the server process lives. Started by COM, every object handed
// out and every lock on the class object holds it, and the last one let go
// ends the program; started otherwise, clients come and go and the server
// stays reachable for the next.
#include "../vcl/VclTestEnvironment.h"
#include "opcserver/PsComUtils.h"
#include "opcserver/ServerProcess.h"

namespace {

using opcserver::ComPtr;
using opcserver::MakeComObject;

class Plain : public opcserver::ComObject<IUnknown> {};

class PlainFactory : public opcserver::ComClassFactory {
 protected:
  ComPtr<IUnknown> CreateObject() override { return MakeComObject<Plain>().As<IUnknown>(); }
};

class ServerProcessTest : public korva_test::VclTest {
 protected:
  ~ServerProcessTest() override {
    opcserver::StopCountingServerProcess();
#ifndef _WIN32
    CoResumeClassObjects();
#endif
  }
  bool Ended() {
    loop().ProcessMessages();
    return vcl::Application().Terminated();
  }
};

TEST_F(ServerProcessTest, StartedByComTheLastObjectOrLockLetGoEndsTheProgram) {
  opcserver::EndProgramWhenLastClientLeaves();
  // The class object itself holds nothing: it is there before any client.
  const ComPtr<PlainFactory> factory = MakeComObject<PlainFactory>();
  ComPtr<IUnknown> first;
  ComPtr<IUnknown> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, first.ReceiveVoid()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, second.ReceiveVoid()), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
#ifndef _WIN32
  EXPECT_EQ(comstandin::ServerProcessReferences(), 3u);
#endif
  first.Reset();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  // A wrong second unlock must not end the process under the other client.
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_FALSE(Ended());
  second.Reset();
  EXPECT_TRUE(Ended());
#ifndef _WIN32
  EXPECT_EQ(comstandin::ServerProcessReferences(), 0u);
#endif
}

#ifndef _WIN32
// COM suspends a process's class objects once its count falls to 0: a
// server started by hand must never count, or its first client to leave
// would cut off every later one.
TEST_F(ServerProcessTest, StartedByHandClientsComeAndGoAndTheNextStillReachesTheServer) {
  const CLSID id = {0x926B1231, 0xE7E1, 0x4241, {0x86, 0x3C, 0x7A, 0xA5, 0xC5, 0xAB, 0xFC, 0xDF}};
  const ComPtr<PlainFactory> factory = MakeComObject<PlainFactory>();
  DWORD cookie = 0;
  ASSERT_EQ(
      CoRegisterClassObject(id, factory.Get(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie),
      S_OK);
  for (int client = 0; client < 2; ++client) {
    ComPtr<IUnknown> object;
    EXPECT_EQ(
        CoCreateInstance(id, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, object.ReceiveVoid()),
        S_OK)
        << "client " << client;
    factory->LockServer(TRUE);
    factory->LockServer(FALSE);
  }
  EXPECT_EQ(comstandin::ServerProcessReferences(), 0u);
  EXPECT_FALSE(Ended());
  CoRevokeClassObject(cookie);
}
#endif

}  // namespace
