// Forms and the application: creation and its events in order, the close
// actions, Run, freeing, messages posted and sent from any thread, modal
// forms and their answers, and layout.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "VclTestEnvironment.h"
#include "vcl/ExtCtrls.h"
#include "vcl/StdCtrls.h"

namespace {

using namespace vcl;

using Log = std::vector<std::string>;

// Writes into the log when freed.
class Witness : public TComponent {
 public:
  Witness(TComponent* owner, std::string label, Log& log)
      : TComponent(owner), label_(std::move(label)), log_(log) {}
  ~Witness() override { log_.push_back(label_ + " freed"); }

 private:
  std::string label_;
  Log& log_;
};

class TfrmSecond;
TfrmSecond* frmSecond = nullptr;

// Logs each of its events under its name; a message 0x8400 is counted and
// answered with its WParam.
class LoggingForm : public TForm {
 public:
  LoggingForm(TComponent* owner, const char* className, const std::string& name, Log& log)
      : TForm(owner, className) {
    OnCreate = [&log, name](TObject*) { log.push_back(name + " create"); };
    OnShow = [&log, name](TObject*) {
      log.push_back(name + (frmSecond ? " show, second exists" : " show"));
    };
    OnHide = [&log, name](TObject*) { log.push_back(name + " hide"); };
    OnClose = [this, &log, name](TObject*, TCloseAction& action) {
      log.push_back(name + " close");
      action = closeAction;
    };
    OnDestroy = [&log, name](TObject*) { log.push_back(name + " destroy"); };
  }

  void WndProc(TMessage& message) override {
    if (message.Msg != kTrayMessage)
      return TForm::WndProc(message);
    thread = std::this_thread::get_id();
    lastLParam = message.LParam;
    ++messages;
    message.Result = static_cast<intptr_t>(message.WParam);
  }

  static constexpr uint32_t kTrayMessage = 0x8400;
  TCloseAction closeAction = caHide;
  std::thread::id thread;
  intptr_t lastLParam = 0;
  int messages = 0;
};

class TfrmMain : public LoggingForm {
 public:
  TfrmMain(TComponent* owner, Log& log) : LoggingForm(owner, "TfrmMain", "main", log) {
    SetVisible(true);  // visible by its layout
    new Witness(this, "first child", log);
    new Witness(this, "second child", log);
  }
};

class TfrmSecond : public LoggingForm {
 public:
  TfrmSecond(TComponent* owner, Log& log) : LoggingForm(owner, "TfrmSecond", "second", log) {}
};

class FormsTest : public korva_test::VclTest {
 protected:
  ~FormsTest() override {
    Application().Done();  // the forms write into the log while they go
    frmSecond = nullptr;
  }
  TfrmMain* CreateBoth() {
    auto* main = Application().CreateForm<TfrmMain>(log);
    Application().CreateForm(frmSecond, log);
    log.clear();
    return main;
  }
  Log log;
};

TEST_F(FormsTest, CreateFormAssignsTheReferenceRunsTheCreationEventAndShowsTheMainForm) {
  TfrmMain* main = nullptr;
  Application().CreateForm(main, log);
  Application().CreateForm(frmSecond, log);
  EXPECT_EQ(log, (Log{"main create", "main show", "second create"}));
  EXPECT_EQ(Application().MainForm(), main);
  EXPECT_TRUE(main->Showing());
  EXPECT_FALSE(frmSecond->Visible());
  EXPECT_NE(main->Handle(), 0u);

  class TfrmSelf : public TForm {
   public:
    TfrmSelf(TComponent* owner, TfrmSelf** global) : TForm(owner, "TfrmSelf") {
      OnCreate = [this, global](TObject*) { sawItself = (*global == this); };
    }
    bool sawItself = false;
  };
  static TfrmSelf* frmSelf = nullptr;
  Application().CreateForm(frmSelf, &frmSelf);
  EXPECT_TRUE(frmSelf->sawItself);
  frmSelf = nullptr;
}

TEST_F(FormsTest, ErrorsInTheCreationEventOrAMessageHandlerAreReportedAndWorkGoesOn) {
  Application().SetTitle("DI-ZOD");
  class TfrmFailing : public TForm {
   public:
    explicit TfrmFailing(TComponent* owner) : TForm(owner, "TfrmFailing") {
      SetVisible(true);
      OnCreate = [](TObject*) { throw std::runtime_error("broken"); };
    }
    void WndProc(TMessage& message) override {
      if (message.Msg == WM_USER)
        throw std::runtime_error("Access violation");
      TForm::WndProc(message);
    }
  };
  auto* broken = Application().CreateForm<TfrmFailing>();
  EXPECT_TRUE(broken->Showing());
  PostMessage(broken->Handle(), WM_USER, 0, 0);
  loop().ProcessMessages();
  ASSERT_EQ(boxes_.shown().size(), 2u);
  EXPECT_EQ(boxes_.shown()[0].text, "broken.");
  EXPECT_EQ(boxes_.shown()[0].caption, "DI-ZOD");
  EXPECT_EQ(boxes_.shown()[1].text, "Access violation.");
}

TEST_F(FormsTest, CloseActionsHideKeepOrFreeAndTheMainFormEndsTheApplication) {
  auto* main = CreateBoth();
  frmSecond->Show();
  log.clear();
  PostMessage(frmSecond->Handle(), WM_CLOSE, 0, 0);
  loop().ProcessMessages();
  EXPECT_EQ(log, (Log{"second close", "second hide"}));
  EXPECT_FALSE(frmSecond->Visible());

  frmSecond->Show();
  frmSecond->closeAction = caNone;
  frmSecond->Close();
  EXPECT_TRUE(frmSecond->Visible());

  frmSecond->closeAction = caFree;
  const TWindowHandle handle = frmSecond->Handle();
  frmSecond->Close();
  EXPECT_EQ(FindForm(handle), frmSecond);  // still there inside the handler
  loop().ProcessMessages();
  EXPECT_EQ(FindForm(handle), nullptr);
  EXPECT_EQ(log.back(), "second destroy");
  frmSecond = nullptr;
  EXPECT_FALSE(Application().Terminated());

  main->Close();
  EXPECT_EQ(log.back(), "main close");
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(FormsTest, TheEndOfTheSessionClosesTheMainFormOnceBeforeItReturns) {
  auto* main = CreateBoth();
  struct Case {
    TForm* to;
    uintptr_t ending;
    Log expected;
  };
  const Case cases[] = {
      {main, 0, {}}, {frmSecond, 1, {}}, {main, 1, {"main close"}}, {main, 1, {"main close"}}};
  for (const Case& c : cases) {
    SendMessage(c.to->Handle(), WM_ENDSESSION, c.ending, 0);
    EXPECT_EQ(log, c.expected);
  }
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(FormsTest, RunShowsTheMainFormAndHandlesMessagesUntilItCloses) {
  Application().Run();  // no main form: returns at once

  auto* main = Application().CreateForm<TForm>();
  EXPECT_FALSE(main->Visible());
  const TWindowHandle handle = main->Handle();
  std::thread other([handle] { PostMessage(handle, WM_CLOSE, 0, 0); });
  Application().Run();
  other.join();
  EXPECT_TRUE(main->Visible());
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(FormsTest, AnEventLoopEndedUnderTheApplicationEndsModalLoopsAndRun) {
  auto* main = Application().CreateForm<TForm>();
  auto* dialog = CreateForm<TForm>(main);
  dialog->Show();
  // As a quit message posted by another program ends the loop, not the application.
  loop().Post([this] { loop().Terminate(); });
  dialog->ModalLoop();  // would spin for ever if it waited for the application
  EXPECT_EQ(dialog->ModalResult(), mrCancel);
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(FormsTest, FreeingRunsTheDestroyEventThenFreesTheComponentsLastFirst) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  log.clear();
  Free(main);
  EXPECT_EQ(log, (Log{"main destroy", "second child freed", "first child freed"}));
  EXPECT_EQ(Application().MainForm(), nullptr);
  EXPECT_EQ(Application().ComponentCount(), 0);

  CreateBoth();
  Application().Done();
  EXPECT_EQ(log,
            (Log{"second destroy", "main destroy", "second child freed", "first child freed"}));
  frmSecond = nullptr;
}

TEST_F(FormsTest, MessagesFromAnyThreadReachWndProcOnTheLoopThread) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  const TWindowHandle handle = main->Handle();
  std::atomic<bool> posted{false};
  std::thread([&] { posted = PostMessage(handle, TfrmMain::kTrayMessage, 0x100, 0x203); }).join();
  EXPECT_TRUE(posted);
  EXPECT_EQ(main->messages, 0);  // queued, not delivered on the poster's thread
  loop().ProcessMessages();
  EXPECT_EQ(main->messages, 1);
  EXPECT_EQ(main->lastLParam, 0x203);
  EXPECT_EQ(main->thread, std::this_thread::get_id());

  // Sent: at once on this thread; from another, it waits for this one.
  EXPECT_EQ(SendMessage(handle, TfrmMain::kTrayMessage, 0x1234, 0x203), 0x1234);
  EXPECT_EQ(main->Perform(TfrmMain::kTrayMessage, 7, 0), 7);
  main->thread = {};
  std::atomic<intptr_t> result{-1};
  std::thread other([&] { result = SendMessage(handle, TfrmMain::kTrayMessage, 42, 0); });
  while (main->messages < 4)
    loop().RunFor(1);  // the sender's wake moves the wait on
  other.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(main->thread, std::this_thread::get_id());

  // A freed form's messages are dropped, those queued for it too.
  EXPECT_TRUE(PostMessage(handle, TfrmMain::kTrayMessage, 1, 2));
  Free(main);
  loop().ProcessMessages();  // would reach freed memory if delivered
  EXPECT_FALSE(PostMessage(handle, TfrmMain::kTrayMessage, 1, 2));
  EXPECT_EQ(SendMessage(handle, TfrmMain::kTrayMessage, 1, 2), 0);
}

TEST_F(FormsTest, ACentredFormIsCentredAndBroughtForwardWhenShown) {
  auto* form = Application().CreateForm<TForm>();
  form->Position = poScreenCenter;
  form->SetBounds(0, 0, 400, 300);
  form->Show();
  EXPECT_EQ(form->Left(), (1024 - 400) / 2);
  EXPECT_EQ(form->Top(), (768 - 300) / 2);
  EXPECT_EQ(headless().broughtToFront, (std::vector<std::string>{"TForm"}));
}

// A dialog like the language choice: a radio group and an OK button.
class TfrmChoice : public TForm {
 public:
  explicit TfrmChoice(TComponent* owner) : TForm(owner, "TfrmChoice") {
    Language = new TRadioGroup(this);
    Language->SetParent(this);
    Language->SetItems({"Deutsch", "English", "Francais", "Italiano"});
    Language->SetItemIndex(0);
    btnOK = new TButton(this);
    btnOK->SetParent(this);
    btnOK->Default = true;
    btnOK->ModalResult = mrOk;
    OnShow = [this](TObject*) { events.push_back("show"); };
    OnClose = [this](TObject*, TCloseAction&) { events.push_back("close"); };
  }
  TRadioGroup* Language;
  TButton* btnOK;
  Log events;
};

TEST_F(FormsTest, AModalFormIsAnsweredByTheModalAnswer) {
  ScopedModalAnswer answer([](TForm& form) {
    auto& dialog = dynamic_cast<TfrmChoice&>(form);
    EXPECT_TRUE(dialog.Visible() && dialog.Modal());
    dialog.Language->ClickItem(2);
    dialog.btnOK->Click();
  });
  // Made with new, it is created at its first showing.
  vcl::Owned<TfrmChoice> dialog(new TfrmChoice(nullptr));
  EXPECT_FALSE(dialog->Created());
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_TRUE(dialog->Created());
  EXPECT_EQ(dialog->Language->ItemIndex(), 2);
  EXPECT_EQ(dialog->events, (Log{"show", "close"}));
  EXPECT_FALSE(dialog->Visible() || dialog->Modal());
  EXPECT_EQ(headless().modalForms, (std::vector<std::string>{"TfrmChoice"}));

  ScopedModalAnswer closing([](TForm& form) { form.Close(); });
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  dialog->Show();
  EXPECT_THROW(dialog->ShowModal(), EInvalidOperation);
}

TEST_F(FormsTest, WithoutAnAnswerAModalFormClosesWithItsDefaultButtonsResult) {
  vcl::Owned<TfrmChoice> dialog(CreateForm<TfrmChoice>(nullptr));
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_EQ(dialog->Language->ItemIndex(), 0);
  dialog->btnOK->Default = false;
  EXPECT_EQ(dialog->ShowModal(), mrCancel);

  // Return and Escape press the default and the cancel button.
  auto* cancel = new TButton(dialog.get());
  cancel->SetParent(dialog.get());
  cancel->Cancel = true;
  dialog->btnOK->Default = true;
  Log clicks;
  dialog->btnOK->OnClick = [&](TObject*) { clicks.push_back("ok"); };
  cancel->OnClick = [&](TObject*) { clicks.push_back("cancel"); };
  dialog->Language->KeyDown(VK_RETURN);
  dialog->Language->KeyDown(VK_ESCAPE);
  EXPECT_EQ(clicks, (Log{"ok", "cancel"}));
}

}  // namespace
