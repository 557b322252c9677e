// Forms and the application.
//
// A form is built in code, once, in its constructor (controls, fields,
// events). Its creation event cannot run from a C++ constructor, so forms are
// made with Application().CreateForm (or vcl::CreateForm for forms outside the
// application): construct, run OnCreate, then show the form when it is visible
// by its layout. A form whose constructor sets it visible is therefore shown,
// with its OnShow, within its creation.
//
// Messages: a form has a handle (Handle()), and so has a message window
// (vcl/MessageWindow.h). vcl::PostMessage queues a message for it from any
// thread; it reaches WndProc on the loop thread, or is dropped when the form
// is gone by then. vcl::SendMessage on the loop thread calls WndProc at once. A subclass overrides
// WndProc, handles its numbers and passes the rest on to TForm::WndProc.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

#include "vcl/Classes.h"
#include "vcl/Controls.h"
#include "vcl/Messages.h"

namespace vcl {

class TButton;

using TModalResult = int;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = unsigned;
enum TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};

using TCloseEvent = std::function<void(TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* owner, std::string className = "TForm");
  ~TForm() override;
  // The destroy event, then the owned components last-to-first, then the window.
  void BeforeDestruction() override;

  // Runs the creation event once, then shows the form when it is visible.
  // CreateForm calls it; Show and ShowModal call it for a form made otherwise.
  void AfterConstruction();
  bool Created() const { return created_; }

  // The window handle, made on first use.
  TWindowHandle Handle();
  bool HandleAllocated() const { return handle_ != 0; }
  // Whether the form is on the screen (visible and created).
  bool Showing() const { return showing_; }

  // Visible := true (the show event, then the window), and to the front.
  void Show();
  void BringToFront();
  // The close query and close event; then the main form ends the application,
  // another form hides (or is freed, as its close action says). A modal form
  // only gets ModalResult mrCancel.
  void Close();
  bool CloseQuery();
  // Shows the form and waits, handling messages, until ModalResult is set;
  // then runs the close event, hides the form and returns the result.
  int ShowModal();
  bool Modal() const { return modal_; }
  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult result);
  // Frees the form from the event loop, after the running handler returns.
  void Release();

  int ClientWidth() const override;
  int ClientHeight() const override;
  void SetClientWidth(int width);
  void SetClientHeight(int height);

  TBorderStyle BorderStyle = bsSizeable;
  TBorderIcons BorderIcons = biSystemMenu | biMinimize | biMaximize;
  TPosition Position = poDesigned;
  bool KeyPreview = false;

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  // Every message of the form's window. WM_CLOSE closes the form, and so
  // does the end of the session for the main form; the shell's new task bar
  // gets the form's tray icons again; the rest goes to the backend's default
  // handling.
  virtual void WndProc(TMessage& message);
  // Calls WndProc directly and returns the result.
  intptr_t Perform(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);

  // Input from the backend: the window was activated or deactivated.
  void Activate();
  void Deactivate();
  // Return presses the default button, Escape the cancel button.
  void DialogKey(uint16_t& key, TShiftState shift);
  TButton* DefaultButton() const;
  TButton* CancelButton() const;

  // The control with the keyboard focus, or null. Setting it is its SetFocus.
  TWinControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* control);

  // For backends that wait for real: handles messages until ModalResult is
  // set and the close event let it stand, or the application ends.
  void ModalLoop();
  // The close step of a modal form whose ModalResult was set; a close action
  // of caNone sets ModalResult back to zero.
  void CloseModal();

 protected:
  void VisibleChanged() override;
  virtual void DoCreate();
  virtual void DoShow();
  virtual void DoHide();
  virtual void DoClose(TCloseAction& action);
  virtual void DoDestroy();

 private:
  void UpdateShowing();
  void PlaceOnScreen();
  void TaskbarCreated();
  void ReleaseHandle();

  friend class TWinControl;
  TWinControl* activeControl_ = nullptr;
  bool created_ = false;
  bool showing_ = false;
  bool modal_ = false;
  TModalResult modalResult_ = mrNone;
  TWindowHandle handle_ = 0;
};

// The form with this handle, or null. The look-up is safe from any thread;
// the form itself is for the loop thread.
TForm* FindForm(TWindowHandle handle);

// Queues a message for the form with this handle; any thread. False when no
// such window exists now.
bool PostMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// Delivers a message now and returns its result (0 for an unknown handle).
// From another thread it waits until the loop thread has handled it.
intptr_t SendMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam);
// Sends without waiting: on the loop thread the message is delivered at
// once, from other threads it is posted. False when no such window exists.
bool SendNotifyMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam, intptr_t lParam);

struct THintInfo {
  TControl* HintControl = nullptr;
  TPoint HintPos{};
  int HintMaxWidth = 0;
  TColor HintColor = 0;
  int HideTimeout = 0;
  std::string HintStr;
};
using TShowHintEvent =
    std::function<void(std::string& hintStr, bool& canShow, THintInfo& hintInfo)>;
using TExceptionEvent = std::function<void(TObject* sender, const std::exception& error)>;

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // Makes a form owned by the application (the first one becomes the main
  // form), assigns `reference` before the creation event runs, runs it, and
  // shows the form when it is visible by its layout.
  template <class T, class... Args>
  void CreateForm(T*& reference, Args&&... args);
  template <class T, class... Args>
  T* CreateForm(Args&&... args) {
    T* form = nullptr;
    CreateForm(form, std::forward<Args>(args)...);
    return form;
  }

  TForm* MainForm() const { return mainForm_; }
  bool ShowMainForm = true;
  bool MainFormOnTaskbar = false;

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);
  TWindowHandle Handle();

  // Shows the main form (when ShowMainForm) and handles messages until
  // Terminate; returns at once without a main form.
  void Run();
  void Terminate();
  // Terminate was called, or the event loop was ended under the application
  // (a quit message another program posted): either ends Run and every modal loop.
  bool Terminated() const;
  void ProcessMessages();
  // Frees the forms and everything else the application owns (program end).
  void Done() { DestroyComponents(); }

  // Hints.
  TColor HintColor = clInfoBk;
  int HintPause = 500;
  int HintShortPause = 50;
  int HintHidePause = 2500;
  bool ShowHint = true;
  // One hook for the whole program (a unit installs it).
  TShowHintEvent OnShowHint;
  // The text a hint for `control` shows: its hint up to a '|', after the
  // OnShowHint hook. False when nothing is to be shown.
  bool HintFor(TControl& control, std::string& text);

  // An exception escaped an event handler: OnException, or an error box with
  // the message and the title. One box at a time: errors raised while one is
  // on the screen (a timer still running behind it) are not shown.
  TExceptionEvent OnException;
  void HandleException(const std::exception& error);

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TForm;
  void SetMainFormIfNone(TForm* form) {
    if (!mainForm_)
      mainForm_ = form;
  }
  void FormGone(TForm* form) {
    if (mainForm_ == form)
      mainForm_ = nullptr;
  }

  TForm* mainForm_ = nullptr;
  std::string title_;
  bool terminated_ = false;
  bool showingError_ = false;
};

TApplication& Application();

// A fresh application for its lifetime (tests); the previous one comes back.
class ScopedApplication {
 public:
  ScopedApplication();
  ~ScopedApplication();
  ScopedApplication(const ScopedApplication&) = delete;
  ScopedApplication& operator=(const ScopedApplication&) = delete;

 private:
  Owned<TApplication> previous_;
};

// A form outside the application (a dialog made on demand): constructed with
// `owner`, creation event run, shown when visible by its layout.
template <class T, class... Args>
T* CreateForm(TComponent* owner, Args&&... args) {
  static_assert(std::is_base_of_v<TForm, T>, "CreateForm makes forms");
  T* form = new T(owner, std::forward<Args>(args)...);
  form->AfterConstruction();
  return form;
}

// Runs an event handler from the loop; what it throws goes to HandleException.
void Guarded(const std::function<void()>& handler);

template <class T, class... Args>
void TApplication::CreateForm(T*& reference, Args&&... args) {
  static_assert(std::is_base_of_v<TForm, T>, "CreateForm makes forms");
  T* form = new T(this, std::forward<Args>(args)...);
  reference = form;
  SetMainFormIfNone(form);
  form->AfterConstruction();
}

}  // namespace vcl
