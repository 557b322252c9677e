#include "vcl/Forms.h"

#include <mutex>
#include <unordered_map>

#include "platform/EventLoop.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "vcl/Backend.h"
#include "vcl/MessageWindow.h"
#include "vcl/StdCtrls.h"
#include "vcl/TrayIcon.h"

namespace vcl {
namespace {

Owned<TApplication>& ApplicationSlot() {
  // The loop is made first, so that it outlives the application at exit.
  platform::MainLoop();
  static Owned<TApplication> slot;
  return slot;
}

TApplication* ApplicationIfAny() {
  return ApplicationSlot().get();
}

struct FormRegistry {
  std::mutex mutex;
  std::unordered_map<TWindowHandle, TForm*> forms;
};

FormRegistry& Registry() {
  static FormRegistry registry;
  return registry;
}

void Register(TWindowHandle handle, TForm* form) {
  std::lock_guard lock(Registry().mutex);
  Registry().forms[handle] = form;
}

void Unregister(TWindowHandle handle) {
  std::lock_guard lock(Registry().mutex);
  Registry().forms.erase(handle);
}

template <class Handler, class... Args>
void Fire(const Handler& event, Args&&... args) {
  if (event) {
    const Handler handler = event;  // the handler may replace or free its owner
    handler(std::forward<Args>(args)...);
  }
}

TButton* FindButton(const TWinControl& parent, bool TButton::*flag) {
  for (TControl* control : parent.ControlList()) {
    if (auto* button = dynamic_cast<TButton*>(control)) {
      if (button->*flag && button->EffectiveVisible() && button->EffectiveEnabled())
        return button;
    }
    if (auto* inner = dynamic_cast<TWinControl*>(control)) {
      if (TButton* found = FindButton(*inner, flag))
        return found;
    }
  }
  return nullptr;
}

}  // namespace

TForm* FindForm(TWindowHandle handle) {
  if (handle == 0)
    return nullptr;
  std::lock_guard lock(Registry().mutex);
  auto it = Registry().forms.find(handle);
  return it == Registry().forms.end() ? nullptr : it->second;
}

bool PostMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (IsMessageWindow(handle))
    return detail::PostToMessageWindow(handle, msg, wParam, lParam);
  return backend().PostFormMessage(handle, msg, wParam, lParam);
}

intptr_t SendMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (IsMessageWindow(handle))
    return detail::SendToMessageWindow(handle, msg, wParam, lParam);
  return backend().SendFormMessage(handle, msg, wParam, lParam);
}

bool SendNotifyMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (!platform::MainLoop().IsLoopThread())
    return PostMessage(handle, msg, wParam, lParam);
  if (!IsMessageWindow(handle) && !FindForm(handle))
    return false;
  SendMessage(handle, msg, wParam, lParam);
  return true;
}

void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    Application().HandleException(error);
  } catch (...) {
    Application().HandleException(std::runtime_error("Unknown exception"));
  }
}

// ---------------------------------------------------------------- TForm

TForm::TForm(TComponent* owner, std::string className) : TWinControl(owner, std::move(className)) {
  SetVisible(false);
  SetBounds(0, 0, 320, 240);
}

TForm::~TForm() {
  ReleaseHandle();
  if (TApplication* application = ApplicationIfAny())
    application->FormGone(this);
}

void TForm::BeforeDestruction() {
  DoDestroy();
  TWinControl::BeforeDestruction();
  ReleaseHandle();
}

void TForm::ReleaseHandle() {
  if (!handle_)
    return;
  const TWindowHandle handle = handle_;
  handle_ = 0;
  showing_ = false;
  Unregister(handle);
  backend().DestroyFormHandle(*this, handle);
}

void TForm::AfterConstruction() {
  if (created_)
    return;
  created_ = true;
  DoCreate();
  UpdateShowing();
}

TWindowHandle TForm::Handle() {
  if (!handle_ && !Destroying()) {
    handle_ = backend().CreateFormHandle(*this);
    Register(handle_, this);
  }
  return handle_;
}

void TForm::VisibleChanged() {
  if (created_)
    UpdateShowing();
}

void TForm::UpdateShowing() {
  const bool wanted = Visible() && created_ && !Destroying();
  if (wanted == showing_)
    return;
  showing_ = wanted;
  if (wanted) {
    PlaceOnScreen();
    DoShow();
    // The show event may have hidden the form again.
    if (showing_) {
      Handle();
      backend().FormShown(*this);
    }
  } else {
    if (handle_)
      backend().FormHidden(*this);
    DoHide();
  }
}

void TForm::PlaceOnScreen() {
  TRect area{0, 0, 0, 0};
  const TForm* centre = nullptr;
  switch (Position) {
    case poScreenCenter:
    case poDesktopCenter:
      break;
    case poMainFormCenter:
      centre = Application().MainForm();
      break;
    case poOwnerFormCenter:
      centre = dynamic_cast<const TForm*>(Owner());
      break;
    default:
      return;
  }
  if (centre && centre != this) {
    area = centre->BoundsRect();
  } else {
    const TPoint screen = backend().ScreenSize();
    area = TRect{0, 0, screen.X, screen.Y};
  }
  SetBounds(area.Left + (area.Width() - Width()) / 2, area.Top + (area.Height() - Height()) / 2,
            Width(), Height());
}

void TForm::Show() {
  if (!created_)
    AfterConstruction();
  SetVisible(true);
  BringToFront();
}

void TForm::BringToFront() {
  if (showing_)
    backend().BringToFront(*this);
}

bool TForm::CloseQuery() {
  bool canClose = true;
  Fire(OnCloseQuery, this, canClose);
  return canClose;
}

void TForm::Close() {
  if (modal_) {
    SetModalResult(mrCancel);
    return;
  }
  if (!CloseQuery())
    return;
  TCloseAction action = caHide;
  DoClose(action);
  if (action == caNone)
    return;
  if (Application().MainForm() == this) {
    Application().Terminate();
  } else if (action == caFree) {
    Release();
  } else {
    Hide();
  }
}

void TForm::SetModalResult(TModalResult result) {
  modalResult_ = result;
}

int TForm::ShowModal() {
  if (!created_)
    AfterConstruction();
  if (Visible() || !Enabled() || modal_)
    throw EInvalidOperation("Cannot make a visible window modal");
  modal_ = true;
  try {
    Show();
    modalResult_ = mrNone;
    backend().RunModal(*this);
  } catch (...) {
    Hide();
    modal_ = false;
    throw;
  }
  const TModalResult result = modalResult_;
  Hide();
  modal_ = false;
  return result;
}

void TForm::ModalLoop() {
  platform::EventLoop& loop = platform::MainLoop();
  for (;;) {
    if (Application().Terminated()) {
      modalResult_ = mrCancel;
    } else if (modalResult_ != mrNone) {
      CloseModal();
    }
    if (modalResult_ != mrNone)
      break;
    loop.RunWhile([this] { return modalResult_ == mrNone && !Application().Terminated(); });
  }
}

void TForm::CloseModal() {
  TCloseAction action = caNone;
  if (CloseQuery()) {
    action = caHide;
    DoClose(action);
  }
  if (action == caNone) {
    modalResult_ = mrNone;
  } else if (action == caFree) {
    Release();
  }
}

void TForm::Release() {
  const TWindowHandle handle = Handle();
  platform::MainLoop().Post([handle] {
    if (TForm* form = FindForm(handle))
      Free(form);
  });
}

int TForm::ClientWidth() const {
  return Width() - backend().NonClientSize(*this).X;
}

int TForm::ClientHeight() const {
  return Height() - backend().NonClientSize(*this).Y;
}

void TForm::SetClientWidth(int width) {
  SetWidth(width + backend().NonClientSize(*this).X);
}

void TForm::SetClientHeight(int height) {
  SetHeight(height + backend().NonClientSize(*this).Y);
}

void TForm::WndProc(TMessage& message) {
  switch (message.Msg) {
    case WM_CLOSE:
      Close();
      message.Result = 0;
      return;
    case WM_ENDSESSION:
      // The session ends (logoff, shutdown, the restart manager closing the
      // program): the system may end the process once this returns, so the
      // main form closes now, with its close event.
      if (message.WParam && Application().MainForm() == this && !Application().Terminated())
        Close();
      message.Result = 0;
      return;
    default:
      if (const uint32_t taskbar = backend().TaskbarCreatedMessage();
          taskbar != 0 && message.Msg == taskbar)
        TaskbarCreated();
      backend().DefaultHandler(*this, message);
  }
}

void TForm::TaskbarCreated() {
  for (int i = 0; i < ComponentCount(); ++i) {
    if (auto* icon = dynamic_cast<TTrayIcon*>(Components(i)))
      icon->TaskbarCreated();
  }
}

intptr_t TForm::Perform(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  TMessage message{msg, wParam, lParam, 0};
  WndProc(message);
  return message.Result;
}

void TForm::Activate() {
  Fire(OnActivate, this);
}

void TForm::Deactivate() {
  Fire(OnDeactivate, this);
}

void TForm::DialogKey(uint16_t& key, TShiftState shift) {
  if (shift & (ssAlt | ssCtrl))
    return;
  TButton* button = nullptr;
  if (key == VK_RETURN)
    button = DefaultButton();
  if (key == VK_ESCAPE)
    button = CancelButton();
  if (button) {
    key = 0;
    button->Click();
  }
}

void TForm::SetActiveControl(TWinControl* control) {
  if (control) {
    control->SetFocus();
  } else {
    activeControl_ = nullptr;
  }
}

TButton* TForm::DefaultButton() const {
  return FindButton(*this, &TButton::Default);
}

TButton* TForm::CancelButton() const {
  return FindButton(*this, &TButton::Cancel);
}

void TForm::DoCreate() {
  // As the class library does: an error in the creation event is reported and
  // the creation goes on.
  Guarded([this] { Fire(OnCreate, this); });
}

void TForm::DoShow() {
  Fire(OnShow, this);
}

void TForm::DoHide() {
  Fire(OnHide, this);
}

void TForm::DoClose(TCloseAction& action) {
  Fire(OnClose, this, action);
}

void TForm::DoDestroy() {
  Guarded([this] { Fire(OnDestroy, this); });
}

// ---------------------------------------------------------------- TApplication

TApplication::TApplication() : TComponent(nullptr, "TApplication") {}

TApplication::~TApplication() = default;

void TApplication::SetTitle(const std::string& title) {
  if (title == title_)
    return;
  title_ = title;
  backend().ApplicationTitleChanged(title_);
}

TWindowHandle TApplication::Handle() {
  return backend().ApplicationHandle();
}

void TApplication::Run() {
  if (!mainForm_)
    return;
  if (ShowMainForm && !mainForm_->Visible())
    mainForm_->Show();
  platform::MainLoop().RunWhile([this] { return !Terminated(); });
}

void TApplication::Terminate() {
  terminated_ = true;
  platform::MainLoop().Terminate();
}

bool TApplication::Terminated() const {
  return terminated_ || platform::MainLoop().Terminated();
}

void TApplication::ProcessMessages() {
  platform::MainLoop().ProcessMessages();
}

bool TApplication::HintFor(TControl& control, std::string& text) {
  THintInfo info;
  info.HintControl = &control;
  info.HintColor = HintColor;
  info.HideTimeout = HintHidePause;
  const std::string& hint = control.Hint();
  info.HintStr = hint.substr(0, hint.find('|'));
  bool canShow = ShowHint && control.ShowHint() && !info.HintStr.empty();
  if (canShow && OnShowHint) {
    const TShowHintEvent hook = OnShowHint;
    hook(info.HintStr, canShow, info);
  }
  text = info.HintStr;
  return canShow && !text.empty();
}

void TApplication::HandleException(const std::exception& error) {
  if (OnException) {
    const TExceptionEvent handler = OnException;
    handler(this, error);
    return;
  }
  if (showingError_)
    return;
  std::string text = error.what();
  // As the class library shows it: a closing full stop added where missing.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.')
    text += '.';
  struct Showing {
    bool& flag;
    explicit Showing(bool& f) : flag(f) { flag = true; }
    ~Showing() { flag = false; }
  } showing(showingError_);
  platform::messageBoxes().Show(text, title_, platform::kMbOk | platform::kMbIconError);
}

void TApplication::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component == mainForm_)
    mainForm_ = nullptr;
  TComponent::Notification(component, operation);
}

TApplication& Application() {
  Owned<TApplication>& slot = ApplicationSlot();
  if (!slot)
    slot.reset(new TApplication());
  return *slot;
}

ScopedApplication::ScopedApplication() {
  Owned<TApplication>& slot = ApplicationSlot();
  previous_ = std::move(slot);
  slot.reset(new TApplication());
}

ScopedApplication::~ScopedApplication() {
  Owned<TApplication>& slot = ApplicationSlot();
  // The scoped application stays reachable while it frees its forms.
  slot->Done();
  slot = std::move(previous_);
}

}  // namespace vcl
