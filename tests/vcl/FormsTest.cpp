#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "VclTestEnvironment.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
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

class TfrmMain : public TForm {
 public:
  TfrmMain(TComponent* owner, Log& log) : TForm(owner, "TfrmMain"), log_(log) {
    SetVisible(true);  // visible by its layout
    new Witness(this, "first child", log_);
    new Witness(this, "second child", log_);
    OnCreate = [this](TObject*) { log_.push_back("main create"); };
    OnShow = [this](TObject*) {
      log_.push_back(std::string("main show, second exists: ") + (frmSecond ? "yes" : "no"));
    };
    OnHide = [this](TObject*) { log_.push_back("main hide"); };
    OnClose = [this](TObject*, TCloseAction& action) {
      log_.push_back("main close");
      action = closeAction;
    };
    OnDestroy = [this](TObject*) { log_.push_back("main destroy"); };
  }

  void WndProc(TMessage& message) override {
    if (message.Msg == kTrayMessage) {
      trayThread = std::this_thread::get_id();
      lastLParam = message.LParam;
      ++trayMessages;
      message.Result = static_cast<intptr_t>(message.WParam);
      return;
    }
    TForm::WndProc(message);
  }

  static constexpr uint32_t kTrayMessage = 0x8400;
  TCloseAction closeAction = caHide;
  std::thread::id trayThread;
  intptr_t lastLParam = 0;
  int trayMessages = 0;

 private:
  Log& log_;
};

class TfrmSecond : public TForm {
 public:
  TfrmSecond(TComponent* owner, Log& log) : TForm(owner, "TfrmSecond") {
    OnCreate = [&log](TObject*) { log.push_back("second create"); };
    OnShow = [&log](TObject*) { log.push_back("second show"); };
    OnHide = [&log](TObject*) { log.push_back("second hide"); };
    OnClose = [this, &log](TObject*, TCloseAction& action) {
      log.push_back("second close");
      action = closeAction;
    };
    OnDestroy = [&log](TObject*) { log.push_back("second destroy"); };
  }
  TCloseAction closeAction = caHide;
};

class FormsTest : public korva_test::VclTest {
 protected:
  ~FormsTest() override {
    Application().Done();  // the forms write into the log while they go
    frmSecond = nullptr;
  }
  Log log;
};

TEST_F(FormsTest, CreateFormRunsTheCreationEventThenShowsAVisibleForm) {
  TfrmMain* main = nullptr;
  Application().CreateForm(main, log);
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(Application().MainForm(), main);
  EXPECT_TRUE(main->Visible());
  EXPECT_TRUE(main->Showing());
  EXPECT_EQ(log, (Log{"main create", "main show, second exists: no"}));
  EXPECT_EQ(main->ClassName(), "TfrmMain");
  EXPECT_NE(main->Handle(), 0u);
}

TEST_F(FormsTest, TheMainFormIsShownBeforeLaterFormsExist) {
  TfrmMain* main = nullptr;
  Application().CreateForm(main, log);
  Application().CreateForm(frmSecond, log);
  EXPECT_EQ(log, (Log{"main create", "main show, second exists: no", "second create"}));
  EXPECT_EQ(Application().MainForm(), main);
  EXPECT_FALSE(frmSecond->Visible());
}

TEST_F(FormsTest, TheReferenceIsAssignedBeforeTheCreationEvent) {
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

TEST_F(FormsTest, AnErrorInTheCreationEventIsReportedAndCreationGoesOn) {
  Application().SetTitle("DI-ZOD");
  class TfrmFailing : public TForm {
   public:
    explicit TfrmFailing(TComponent* owner) : TForm(owner, "TfrmFailing") {
      SetVisible(true);
      OnCreate = [](TObject*) { throw std::runtime_error("broken"); };
    }
  };
  auto* broken = Application().CreateForm<TfrmFailing>();
  EXPECT_TRUE(broken->Showing());
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text, "broken.");
  EXPECT_EQ(boxes_.shown()[0].caption, "DI-ZOD");
}

TEST_F(FormsTest, ClosingAFormRunsTheCloseEventAndHidesIt) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  Application().CreateForm(frmSecond, log);
  frmSecond->Show();
  log.clear();
  frmSecond->Close();
  EXPECT_EQ(log, (Log{"second close", "second hide"}));
  EXPECT_FALSE(frmSecond->Visible());
  EXPECT_FALSE(Application().Terminated());
  (void)main;
}

TEST_F(FormsTest, ACloseActionOfNoneKeepsTheForm) {
  Application().CreateForm<TfrmMain>(log);
  Application().CreateForm(frmSecond, log);
  frmSecond->Show();
  frmSecond->closeAction = caNone;
  frmSecond->Close();
  EXPECT_TRUE(frmSecond->Visible());
}

TEST_F(FormsTest, ACloseActionOfFreeFreesTheFormFromTheLoop) {
  Application().CreateForm<TfrmMain>(log);
  Application().CreateForm(frmSecond, log);
  frmSecond->Show();
  frmSecond->closeAction = caFree;
  const TWindowHandle handle = frmSecond->Handle();
  frmSecond->Close();
  EXPECT_EQ(FindForm(handle), frmSecond);  // still there inside the handler
  loop().ProcessMessages();
  EXPECT_EQ(FindForm(handle), nullptr);
  EXPECT_EQ(log.back(), "second destroy");
  frmSecond = nullptr;
}

TEST_F(FormsTest, ClosingTheMainFormEndsTheApplication) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  log.clear();
  main->Close();
  EXPECT_EQ(log, (Log{"main close"}));
  EXPECT_TRUE(Application().Terminated());
}

TEST_F(FormsTest, RunHandlesMessagesUntilTheMainFormCloses) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  const TWindowHandle handle = main->Handle();
  std::thread other([handle] { PostMessage(handle, WM_CLOSE, 0, 0); });
  Application().Run();
  other.join();
  EXPECT_TRUE(Application().Terminated());
  EXPECT_EQ(log.back(), "main close");
}

TEST_F(FormsTest, RunShowsAnInvisibleMainForm) {
  auto* main = Application().CreateForm<TForm>();
  EXPECT_FALSE(main->Visible());
  loop().Post([main] { main->Close(); });
  Application().Run();
  EXPECT_TRUE(main->Visible());
}

TEST_F(FormsTest, RunWithoutAMainFormReturnsAtOnce) {
  Application().Run();
  SUCCEED();
}

TEST_F(FormsTest, FreeingAFormRunsTheDestroyEventThenFreesItsComponentsLastFirst) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  log.clear();
  Free(main);
  EXPECT_EQ(log, (Log{"main destroy", "second child freed", "first child freed"}));
  EXPECT_EQ(Application().MainForm(), nullptr);
  EXPECT_EQ(Application().ComponentCount(), 0);
}

TEST_F(FormsTest, TheApplicationFreesItsFormsWhenDone) {
  Application().CreateForm<TfrmMain>(log);
  Application().CreateForm(frmSecond, log);
  log.clear();
  Application().Done();
  EXPECT_EQ(log,
            (Log{"second destroy", "main destroy", "second child freed", "first child freed"}));
  frmSecond = nullptr;
}

TEST_F(FormsTest, AMessagePostedFromAnotherThreadReachesWndProcOnTheLoopThread) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  const TWindowHandle handle = main->Handle();
  std::atomic<bool> posted{false};
  std::thread other([&] { posted = PostMessage(handle, TfrmMain::kTrayMessage, 0x100, 0x203); });
  other.join();
  EXPECT_TRUE(posted);
  EXPECT_EQ(main->trayMessages, 0);  // queued, not delivered on the poster's thread
  loop().ProcessMessages();
  EXPECT_EQ(main->trayMessages, 1);
  EXPECT_EQ(main->lastLParam, 0x203);
  EXPECT_EQ(main->trayThread, std::this_thread::get_id());
}

TEST_F(FormsTest, MessagesToAFreedFormAreDropped) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  const TWindowHandle handle = main->Handle();
  EXPECT_TRUE(PostMessage(handle, TfrmMain::kTrayMessage, 1, 2));
  Free(main);
  loop().ProcessMessages();  // would reach freed memory if delivered
  EXPECT_EQ(FindForm(handle), nullptr);
  EXPECT_FALSE(PostMessage(handle, TfrmMain::kTrayMessage, 1, 2));
  EXPECT_EQ(SendMessage(handle, TfrmMain::kTrayMessage, 1, 2), 0);
}

TEST_F(FormsTest, SendMessageCallsWndProcAtOnceAndReturnsTheResult) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  EXPECT_EQ(SendMessage(main->Handle(), TfrmMain::kTrayMessage, 0x1234, 0x203), 0x1234);
  EXPECT_EQ(main->trayMessages, 1);
  EXPECT_EQ(main->Perform(TfrmMain::kTrayMessage, 7, 0), 7);
}

TEST_F(FormsTest, SendMessageFromAnotherThreadWaitsForTheLoopThread) {
  auto* main = Application().CreateForm<TfrmMain>(log);
  const TWindowHandle handle = main->Handle();
  std::atomic<intptr_t> result{-1};
  std::thread other([&] { result = SendMessage(handle, TfrmMain::kTrayMessage, 42, 0); });
  while (main->trayMessages == 0)
    loop().RunFor(1);  // the poster's wake moves the wait on
  other.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(main->trayThread, std::this_thread::get_id());
}

TEST_F(FormsTest, APostedCloseMessageClosesTheForm) {
  Application().CreateForm<TfrmMain>(log);
  Application().CreateForm(frmSecond, log);
  frmSecond->Show();
  PostMessage(frmSecond->Handle(), WM_CLOSE, 0, 0);
  loop().ProcessMessages();
  EXPECT_FALSE(frmSecond->Visible());
}

TEST_F(FormsTest, AnErrorInAMessageHandlerIsReportedAndTheLoopGoesOn) {
  class TfrmThrowing : public TForm {
   public:
    using TForm::TForm;
    void WndProc(TMessage& message) override {
      if (message.Msg == WM_USER)
        throw std::runtime_error("Access violation");
      TForm::WndProc(message);
    }
  };
  auto* form = Application().CreateForm<TfrmThrowing>();
  PostMessage(form->Handle(), WM_USER, 0, 0);
  loop().ProcessMessages();
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text, "Access violation.");
}

TEST_F(FormsTest, CentredFormsAreCentredWhenShown) {
  auto* form = Application().CreateForm<TForm>();
  form->Position = poScreenCenter;
  form->SetBounds(0, 0, 400, 300);
  form->Show();
  EXPECT_EQ(form->Left(), (1024 - 400) / 2);
  EXPECT_EQ(form->Top(), (768 - 300) / 2);
  EXPECT_EQ(headless().broughtToFront, (std::vector<std::string>{"TForm"}));
}

TEST_F(FormsTest, ClientSizeIsTheSizeLessFrameAndCaption) {
  auto* form = Application().CreateForm<TForm>();
  form->BorderStyle = bsDialog;
  form->SetClientWidth(546);
  form->SetClientHeight(293);
  EXPECT_EQ(form->ClientWidth(), 546);
  EXPECT_EQ(form->ClientHeight(), 293);
  const TPoint frame = headless().NonClientSize(*form);
  EXPECT_EQ(form->Width(), 546 + frame.X);
  form->SetHeight(279);
  EXPECT_EQ(form->ClientHeight(), 279 - frame.Y);
}

TEST_F(FormsTest, KeyPreviewLetsTheFormSeeKeysFirst) {
  auto* form = Application().CreateForm<TForm>();
  auto* edit = new TEdit(form);
  edit->SetParent(form);
  Log keys;
  form->OnKeyDown = [&](TObject* sender, uint16_t& key, TShiftState) {
    keys.push_back(std::string("form ") + (sender == form ? "self " : "other ") +
                   std::to_string(key));
    if (key == 'X')
      key = 0;
  };
  edit->OnKeyDown = [&](TObject*, uint16_t& key, TShiftState) {
    keys.push_back("edit " + std::to_string(key));
  };
  edit->KeyDown('U');
  EXPECT_EQ(keys, (Log{"edit 85"}));  // no preview yet
  form->KeyPreview = true;
  keys.clear();
  edit->KeyDown('U');
  edit->KeyDown('X');
  EXPECT_EQ(keys, (Log{"form self 85", "edit 85", "form self 88"}));
}

// A dialog like the language choice: a radio group and an OK button.
class TfrmChoice : public TForm {
 public:
  explicit TfrmChoice(TComponent* owner) : TForm(owner, "TfrmChoice") {
    SetCaption("Sprache / Language / Langue / Lingua");
    Language = new TRadioGroup(this);
    Language->SetName("Language");
    Language->SetParent(this);
    Language->SetItems({"Deutsch", "English", "Francais", "Italiano"});
    Language->SetItemIndex(0);
    btnOK = new TButton(this);
    btnOK->SetName("btnOK");
    btnOK->SetParent(this);
    btnOK->SetCaption("OK");
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
    EXPECT_TRUE(dialog.Visible());
    EXPECT_TRUE(dialog.Modal());
    dialog.Language->ClickItem(2);
    dialog.btnOK->Click();
  });
  auto* dialog = CreateForm<TfrmChoice>(nullptr);
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_EQ(dialog->Language->ItemIndex(), 2);
  EXPECT_EQ(dialog->events, (Log{"show", "close"}));
  EXPECT_FALSE(dialog->Visible());
  EXPECT_FALSE(dialog->Modal());
  EXPECT_EQ(headless().modalForms, (std::vector<std::string>{"TfrmChoice"}));
  Free(dialog);
}

TEST_F(FormsTest, WithoutAnAnswerAModalFormClosesWithItsDefaultButtonsResult) {
  auto* dialog = CreateForm<TfrmChoice>(nullptr);
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_EQ(dialog->Language->ItemIndex(), 0);
  dialog->btnOK->Default = false;
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  Free(dialog);
}

TEST_F(FormsTest, AnAnswerThatClosesTheModalFormGivesCancel) {
  ScopedModalAnswer answer([](TForm& form) { form.Close(); });
  auto* dialog = CreateForm<TfrmChoice>(nullptr);
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  Free(dialog);
}

TEST_F(FormsTest, AVisibleFormCannotBeShownModally) {
  auto* form = Application().CreateForm<TForm>();
  form->Show();
  EXPECT_THROW(form->ShowModal(), EInvalidOperation);
}

TEST_F(FormsTest, AFormMadeWithNewIsCreatedAtItsFirstShowing) {
  auto* dialog = new TfrmChoice(nullptr);
  EXPECT_FALSE(dialog->Created());
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_TRUE(dialog->Created());
  Free(dialog);
}

TEST_F(FormsTest, ReturnAndEscapePressTheDefaultAndCancelButtons) {
  auto* dialog = CreateForm<TfrmChoice>(nullptr);
  auto* cancel = new TButton(dialog);
  cancel->SetParent(dialog);
  cancel->Cancel = true;
  int okClicks = 0;
  int cancelClicks = 0;
  dialog->btnOK->OnClick = [&](TObject*) { ++okClicks; };
  cancel->OnClick = [&](TObject*) { ++cancelClicks; };
  dialog->Language->KeyDown(VK_RETURN);
  dialog->Language->KeyDown(VK_ESCAPE);
  EXPECT_EQ(okClicks, 1);
  EXPECT_EQ(cancelClicks, 1);
  Free(dialog);
}

TEST_F(FormsTest, HintsPassThroughTheApplicationsHook) {
  auto* form = Application().CreateForm<TForm>();
  auto* button = new TButton(form);
  button->SetParent(form);
  button->SetHint("Settings@of the link|long text");
  std::string text;
  EXPECT_FALSE(Application().HintFor(*button, text));  // ShowHint is off
  button->SetShowHint(true);
  ASSERT_TRUE(Application().HintFor(*button, text));
  EXPECT_EQ(text, "Settings@of the link");
  Application().OnShowHint = [](std::string& hint, bool&, THintInfo& info) {
    EXPECT_EQ(info.HintStr, hint);
    for (char& c : hint) {
      if (c == '@')
        c = '\r';
    }
  };
  ASSERT_TRUE(Application().HintFor(*button, text));
  EXPECT_EQ(text, "Settings\rof the link");
  Application().OnShowHint = [](std::string&, bool& canShow, THintInfo&) { canShow = false; };
  EXPECT_FALSE(Application().HintFor(*button, text));
}

}  // namespace
