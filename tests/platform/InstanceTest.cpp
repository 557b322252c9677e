// A later instance reaching the running one: on POSIX over the local socket the
// running instance listens on; on Windows by finding its windows.

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TestEnvironment.h"
#include "TestFolder.h"
#include "platform/Instance.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#endif

namespace {

std::string UniqueTitle() {
  return "korva-instance-test-" + std::to_string(std::random_device{}());
}

#ifndef _WIN32

namespace fs = std::filesystem;

struct Received {
  std::string formClass;
  uint32_t msg;
  uintptr_t wParam;
  intptr_t lParam;
  bool onLoopThread;
};

class InstanceTest : public korva_test::VirtualTimeTest {
 protected:
  InstanceTest() {
    if (const char* previous = std::getenv("KORVA_LOCK_DIR"))
      previousLockDir_ = previous;
    setenv("KORVA_LOCK_DIR", dir_.c_str(), 1);
  }
  ~InstanceTest() override {
    if (previousLockDir_)
      setenv("KORVA_LOCK_DIR", previousLockDir_->c_str(), 1);
    else
      unsetenv("KORVA_LOCK_DIR");
  }

  std::unique_ptr<platform::InstanceRequests> Listen() {
    return platform::InstanceRequests::Listen(
        title_,
        [this](const std::string& formClass, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
          received_.push_back({formClass, msg, wParam, lParam, loop().IsLoopThread()});
        });
  }

  // Sends from another thread, as a second process would, while this thread
  // only waits: the listener must not need the loop to answer.
  bool SendFromOtherThread(uint32_t msg = 0x8400, uintptr_t wParam = 0x100,
                           intptr_t lParam = 0x203) {
    bool sent = false;
    std::thread sender([&] {
      sent = platform::SendToRunningInstance(title_, "TfrmKorvamon", msg, wParam, lParam);
    });
    sender.join();
    return sent;
  }

  fs::path SocketPath() const { return dir_ / (title_ + "-" + std::to_string(getuid()) + ".sock"); }
  sockaddr_un Address() const {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, SocketPath().c_str(), sizeof address.sun_path - 1);
    return address;
  }

  // A raw client connected to the socket file, or -1.
  int ConnectRaw() const {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address();
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      return fd;
    close(fd);
    return -1;
  }

  // Writes `bytes` and tells whether a receipt came back before the listener
  // closed the connection.
  bool SendRaw(const std::string& bytes) {
    const int fd = ConnectRaw();
    if (fd < 0)
      return false;
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    char answer;
    const bool answered = recv(fd, &answer, 1, 0) == 1;
    close(fd);
    return answered;
  }

  korva_test::TestFolder folder_;
  const fs::path& dir_ = folder_.path();
  std::optional<std::string> previousLockDir_;
  std::string title_ = UniqueTitle();
  std::vector<Received> received_;
};

TEST_F(InstanceTest, RequestReachesTheListenerOnTheLoopThreadWithEveryField) {
  auto listener = Listen();
  ASSERT_NE(listener, nullptr);
  ASSERT_TRUE(SendFromOtherThread(0x8400, UINTPTR_MAX - 1, -2));
  // The receipt comes after the post: one round of handling delivers it.
  loop().ProcessMessages();
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(received_[0].formClass, "TfrmKorvamon");
  EXPECT_EQ(received_[0].msg, 0x8400u);
  EXPECT_EQ(received_[0].wParam, UINTPTR_MAX - 1);
  EXPECT_EQ(received_[0].lParam, -2);
  EXPECT_TRUE(received_[0].onLoopThread);
}

TEST_F(InstanceTest, BadArgumentsSendNothing) {
  auto listener = Listen();
  ASSERT_NE(listener, nullptr);
  for (const std::string& formClass :
       {std::string(), std::string(200, 'T'), std::string("Tfrm\nX")})
    EXPECT_FALSE(platform::SendToRunningInstance(title_, formClass, 1, 2, 3)) << formClass;
  EXPECT_FALSE(platform::SendToRunningInstance(std::string(300, 'x'), "TfrmKorvamon", 1, 2, 3));
  loop().ProcessMessages();
  EXPECT_TRUE(received_.empty());
}

TEST_F(InstanceTest, GarbledShortOversizedAndSilentPeersAreDroppedAndServingGoesOn) {
  auto listener = Listen();
  ASSERT_NE(listener, nullptr);
  EXPECT_FALSE(SendRaw(std::string(96, '\xff')));
  EXPECT_FALSE(SendRaw("KVRQ"));
  EXPECT_FALSE(SendRaw(""));
  // A well-formed request, then the same followed by more bytes, or with a
  // class length that overruns it.
  std::string request(96, '\0');
  request.replace(0, 4, "KVRQ");
  request[24] = 4;
  request.replace(25, 4, "TfrX");
  EXPECT_TRUE(SendRaw(request));
  EXPECT_FALSE(SendRaw(request + "more"));
  EXPECT_FALSE(SendRaw(request + std::string(4096, 'K')));
  std::string overrun = request;
  overrun[24] = static_cast<char>(200);
  EXPECT_FALSE(SendRaw(overrun));

  // A peer that connects and says nothing holds the listener only briefly.
  const int silent = ConnectRaw();
  ASSERT_GE(silent, 0);
  EXPECT_TRUE(SendFromOtherThread());
  close(silent);

  loop().ProcessMessages();
  ASSERT_EQ(received_.size(), 2u);
  EXPECT_EQ(received_[0].formClass, "TfrX");
  EXPECT_EQ(received_[1].formClass, "TfrmKorvamon");
}

TEST_F(InstanceTest, StaleSocketIsTakenOverButALiveListenerIsNot) {
  // A socket file left by an instance that died.
  const int dead = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un address = Address();
  ASSERT_EQ(bind(dead, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  close(dead);
  // Nothing listens: nothing is sent, and the next instance takes the name over.
  EXPECT_FALSE(platform::SendToRunningInstance(title_, "TfrmKorvamon", 1, 2, 3));

  auto first = Listen();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(Listen(), nullptr);  // the running one keeps its name
  ASSERT_TRUE(SendFromOtherThread());
  loop().ProcessMessages();
  EXPECT_EQ(received_.size(), 1u);
}

TEST_F(InstanceTest, ListenerGoneRemovesItsSocketAndDropsWhatIsStillQueued) {
  auto listener = Listen();
  ASSERT_NE(listener, nullptr);
  ASSERT_TRUE(SendFromOtherThread());  // queued on the loop, not yet handled
  listener.reset();
  loop().ProcessMessages();
  EXPECT_TRUE(received_.empty());
  EXPECT_FALSE(fs::exists(SocketPath()));
  EXPECT_FALSE(platform::SendToRunningInstance(title_, "TfrmKorvamon", 1, 2, 3));

  // The name is free again for the next instance.
  auto next = Listen();
  ASSERT_NE(next, nullptr);
  EXPECT_TRUE(SendFromOtherThread());
}

#else  // _WIN32

struct Seen {
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};
Seen seen;

LRESULT CALLBACK RecordingWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == 0x8400)
    seen = {msg, wParam, lParam};
  return DefWindowProcA(window, msg, wParam, lParam);
}

HWND MakeWindow(const char* className, const char* title) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = RecordingWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className;
  RegisterClassA(&windowClass);
  return CreateWindowA(className, title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                       GetModuleHandleA(nullptr), nullptr);
}

TEST(InstanceTest, NoRunningInstanceIsFoundAndListeningNeedsNothing) {
  EXPECT_FALSE(
      platform::SendToRunningInstance(UniqueTitle(), "TfrmKorvamon", 0x8400, 0x100, 0x203));
  EXPECT_NE(platform::InstanceRequests::Listen(UniqueTitle(), [](auto&&...) {}), nullptr);
}

TEST(InstanceTest, MessageGoesToTheFormOfTheInstanceWithThatTitle) {
  const std::string title = UniqueTitle();
  HWND application = MakeWindow("TApplication", title.c_str());
  ASSERT_NE(application, nullptr);
  EXPECT_FALSE(
      platform::SendToRunningInstance(title, "TfrmKorvaInstanceTest", 0x8400, 0x100, 0x203));
  HWND form = MakeWindow("TfrmKorvaInstanceTest", "");
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(
      platform::SendToRunningInstance(title, "TfrmKorvaInstanceTest", 0x8400, 0x100, 0x203));
  EXPECT_EQ(seen.msg, 0x8400u);
  EXPECT_EQ(seen.wParam, WPARAM{0x100});
  EXPECT_EQ(seen.lParam, LPARAM{0x203});
  DestroyWindow(form);
  DestroyWindow(application);
}

TEST(InstanceTest, ARunningInstanceThatDoesNotAnswerIsReportedNotReached) {
  const std::string title = UniqueTitle();
  HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  // Its windows belong to a thread that is busy and handles no message.
  std::thread busy([&] {
    HWND application = MakeWindow("TApplication", title.c_str());
    HWND form = MakeWindow("TfrmKorvaBusyInstance", "");
    SetEvent(created);
    WaitForSingleObject(release, 10000);
    DestroyWindow(form);
    DestroyWindow(application);
  });
  WaitForSingleObject(created, 5000);
  const ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(
      platform::SendToRunningInstance(title, "TfrmKorvaBusyInstance", 0x8400, 0x100, 0x203));
  EXPECT_LT(GetTickCount64() - start, 5000u);
  SetEvent(release);
  busy.join();
  CloseHandle(created);
  CloseHandle(release);
}

#endif

}  // namespace
