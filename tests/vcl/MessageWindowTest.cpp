// Message windows: reached by the class library's messages from any thread,
// handled on the loop thread, and nothing after they are gone.
#include <atomic>
#include <thread>
#include <vector>

#include "vcl/Forms.h"
#include "vcl/MessageWindow.h"
#include "vcl/VclTestEnvironment.h"

namespace {

class MessageWindowTest : public korva_test::VclTest {
 protected:
  struct Seen {
    uint32_t msg;
    uintptr_t wParam;
    bool onLoopThread;
  };
  std::vector<Seen> seen;
  vcl::TMessageWindow window{[this](vcl::TMessage& message) {
    seen.push_back({message.Msg, message.WParam, loop().IsLoopThread()});
    message.Result = static_cast<intptr_t>(message.WParam) * 2;
  }};
};

TEST_F(MessageWindowTest, MessagesFromOtherThreadsAreHandledOnTheLoopThread) {
  const vcl::TWindowHandle handle = window.Handle();
  EXPECT_TRUE(vcl::IsMessageWindow(handle));
  EXPECT_EQ(vcl::FindForm(handle), nullptr);
  std::atomic<intptr_t> sent{0};
  std::thread other([&] {
    EXPECT_TRUE(vcl::PostMessage(handle, 1027, 1, 0));
    EXPECT_TRUE(vcl::SendNotifyMessage(handle, 1028, 2, 0));
    // Waits for the loop, which handles the two posts first.
    sent = vcl::SendMessage(handle, 1024, 21, 0);
  });
  while (sent == 0)
    loop().ProcessMessages();
  other.join();
  EXPECT_EQ(sent, 42);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].msg, 1027u);
  EXPECT_EQ(seen[1].msg, 1028u);
  for (const Seen& message : seen)
    EXPECT_TRUE(message.onLoopThread);
}

TEST_F(MessageWindowTest, SendingWithoutWaitingOnTheLoopThreadHandlesAtOnce) {
  EXPECT_TRUE(vcl::SendNotifyMessage(window.Handle(), 1027, 5, 0));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(vcl::SendMessage(window.Handle(), 1027, 6, 0), 12);
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(MessageWindowTest, AWindowGoneGetsNothing) {
  vcl::TWindowHandle handle = 0;
  {
    vcl::TMessageWindow other([this](vcl::TMessage& message) {
      seen.push_back({message.Msg, message.WParam, true});
    });
    handle = other.Handle();
    EXPECT_NE(handle, window.Handle());
    EXPECT_TRUE(vcl::PostMessage(handle, 1027, 0, 0));
  }
  loop().ProcessMessages();
  EXPECT_TRUE(seen.empty());
  EXPECT_FALSE(vcl::IsMessageWindow(handle));
  EXPECT_FALSE(vcl::PostMessage(handle, 1027, 0, 0));
  EXPECT_FALSE(vcl::SendNotifyMessage(handle, 1027, 0, 0));
  EXPECT_EQ(vcl::SendMessage(handle, 1027, 0, 0), 0);
}

}  // namespace
