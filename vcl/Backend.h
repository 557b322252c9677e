// The backend behind the class library: told when forms get a handle, are
// shown or hidden, when a control changes, and asked to deliver messages. The
// headless backend keeps only state that tests set and read; the Win32 backend
// (platform/win32/vcl/) makes real windows. Tests use the headless one on
// every build.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "vcl/Controls.h"
#include "vcl/Messages.h"
#include "vcl/Screen.h"

namespace vcl {

class TForm;
class TPopupMenu;
class TOpenDialog;

// Which of the program's two icons a tray icon shows: the application's
// main icon, or the window's own (the main one when the program has no other).
enum class TTrayIconImage { Window, Main };

struct TrayIconData {
  uint32_t id = 1;
  uint32_t callbackMessage = 0;
  TTrayIconImage image = TTrayIconImage::Window;
  std::string tip;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Forms. CreateFormHandle makes the form's window and those of its
  // controls and returns a non-zero handle.
  virtual TWindowHandle CreateFormHandle(TForm& form) = 0;
  virtual void DestroyFormHandle(TForm& form, TWindowHandle handle) = 0;
  virtual void FormShown(TForm& form) = 0;
  virtual void FormHidden(TForm& form) = 0;
  virtual void BringToFront(TForm& form) = 0;
  // Returns when the form's ModalResult is set (TForm::ShowModal runs the rest).
  virtual void RunModal(TForm& form) = 0;
  // Whatever the form's WndProc passes on: the native default handling.
  virtual void DefaultHandler(TForm& form, TMessage& message) = 0;
  // Width and height of a form's frame and caption with its border style.
  virtual TPoint NonClientSize(const TForm& form) = 0;

  // Controls.
  virtual void ParentChanged(TControl& control) = 0;
  virtual void Changed(TControl& control, TProperty property) = 0;
  virtual void ControlDestroyed(TControl& control) = 0;

  // Pops a menu up at screen position (x, y); a chosen item is clicked.
  virtual void Popup(TPopupMenu& menu, int x, int y) = 0;

  // Messages to a form's handle. PostFormMessage is safe from any thread.
  virtual bool PostFormMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam,
                               intptr_t lParam) = 0;
  virtual intptr_t SendFormMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam,
                                   intptr_t lParam) = 0;

  // The application's own hidden window.
  virtual void ApplicationTitleChanged(const std::string& title) = 0;
  virtual TWindowHandle ApplicationHandle() = 0;

  // The form's icons in the notification area (TTrayIcon keeps them). Add
  // puts icon `icon.id` there (or changes it when it is there already); its
  // mouse messages reach the form as `icon.callbackMessage` with the mouse
  // message in LParam. Modify changes an icon that is there. Both are false
  // when the shell refused: none is running, or (Modify) it has no such icon.
  virtual bool AddTrayIcon(TForm& form, const TrayIconData& icon) = 0;
  virtual bool ModifyTrayIcon(TForm& form, const TrayIconData& icon) = 0;
  virtual void RemoveTrayIcon(TForm& form, uint32_t id) = 0;
  // The message the shell sends every top-level window when its task bar is
  // made (it started, or started anew and lost every icon); 0 when none.
  virtual uint32_t TaskbarCreatedMessage() = 0;
  // A system-wide key whose press reaches the form as WM_HOTKEY with `id`.
  // False when the key is taken or the system refused it.
  virtual bool RegisterHotKey(TForm& form, int id, uint32_t modifiers, uint16_t virtualKey) = 0;
  virtual void UnregisterHotKey(TForm& form, int id) = 0;

  // Input state and the screen.
  virtual TPoint CursorPos() = 0;
  // Whether the key is down now.
  virtual bool IsKeyDown(uint16_t virtualKey) = 0;
  // Whether the key was down when the message being handled was sent.
  virtual bool KeyStateDown(uint16_t virtualKey) { return IsKeyDown(virtualKey); }
  virtual TPoint ScreenSize() = 0;
  virtual void ScreenCursorChanged(TCursor) {}

  // Common dialogs. True when the user confirmed a file (its name is then the
  // dialog's FileName).
  virtual bool ExecuteOpenDialog(TOpenDialog&) { return false; }
};

// The backend in use (the headless one unless another was installed).
Backend& backend();
// Installs a backend (null: the headless one again) and returns the previous.
Backend* SetBackend(Backend* backend);

// Changes to `control` made while one of these lives come from the native
// side (a user typed, moved a window) and are not told back to the backend.
// What follows from them (children realigned) is told as usual.
class NativeUpdate {
 public:
  explicit NativeUpdate(const TControl& control);
  ~NativeUpdate();
  NativeUpdate(const NativeUpdate&) = delete;
  NativeUpdate& operator=(const NativeUpdate&) = delete;
  static bool Active(const TControl& control);

 private:
  const TControl* previous_;
};

// State only. A modal form is answered by the modal answer when one is set
// (it may set fields, click buttons and set ModalResult); otherwise, and when
// the answer left ModalResult at zero, the form's default button is clicked,
// and a form that still has no result closes with mrCancel.
class HeadlessBackend final : public Backend {
 public:
  using ModalAnswer = std::function<void(TForm& form)>;
  // Answers a file-open dialog as a user would: may set its FileName, and
  // returns whether the user confirmed.
  using OpenDialogAnswer = std::function<bool(TOpenDialog& dialog)>;

  TWindowHandle CreateFormHandle(TForm& form) override;
  void DestroyFormHandle(TForm& form, TWindowHandle handle) override;
  void FormShown(TForm&) override {}
  void FormHidden(TForm&) override {}
  void BringToFront(TForm& form) override;
  void RunModal(TForm& form) override;
  void DefaultHandler(TForm&, TMessage&) override {}
  TPoint NonClientSize(const TForm& form) override;

  void ParentChanged(TControl&) override {}
  void Changed(TControl&, TProperty) override {}
  void ControlDestroyed(TControl&) override {}

  void Popup(TPopupMenu&, int, int) override {}

  bool PostFormMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam,
                       intptr_t lParam) override;
  intptr_t SendFormMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam,
                           intptr_t lParam) override;

  void ApplicationTitleChanged(const std::string&) override {}
  TWindowHandle ApplicationHandle() override { return kApplicationHandle; }

  bool AddTrayIcon(TForm& form, const TrayIconData& icon) override;
  bool ModifyTrayIcon(TForm& form, const TrayIconData& icon) override;
  void RemoveTrayIcon(TForm& form, uint32_t id) override;
  uint32_t TaskbarCreatedMessage() override { return kTaskbarCreated; }
  bool RegisterHotKey(TForm& form, int id, uint32_t modifiers, uint16_t virtualKey) override;
  void UnregisterHotKey(TForm& form, int id) override;

  TPoint CursorPos() override { return cursorPos; }
  bool IsKeyDown(uint16_t virtualKey) override { return keysDown.count(virtualKey) > 0; }
  TPoint ScreenSize() override { return screenSize; }
  void ScreenCursorChanged(TCursor cursor) override { cursors.push_back(cursor); }
  // Without an answer, the user cancels.
  bool ExecuteOpenDialog(TOpenDialog& dialog) override;

  static constexpr TWindowHandle kApplicationHandle = 0x10;
  // What the shell's registered message is here.
  static constexpr uint32_t kTaskbarCreated = 0xC0DE;

  // Set by tests.
  ModalAnswer modalAnswer;
  OpenDialogAnswer openDialogAnswer;
  TPoint cursorPos{};
  std::set<uint16_t> keysDown;
  TPoint screenSize{1024, 768};
  // Set by tests: whether a shell takes tray icons (false: none runs yet).
  bool trayShell = true;
  // Read by tests: the tray icons and hot keys in place now (a test that
  // lets the shell lose the icons clears the list), and every add asked for.
  struct TrayIcon {
    std::string formClass;
    uint32_t id;
    uint32_t callbackMessage;
    TTrayIconImage image;
    std::string tip;
  };
  int trayIconAdds = 0;
  struct HotKey {
    std::string formClass;
    int id;
    uint32_t modifiers;
    uint16_t virtualKey;
  };
  std::vector<TrayIcon> trayIcons;
  std::vector<HotKey> hotKeys;
  // Read by tests: class names of the forms shown modally, and of the forms
  // brought to the front, in order.
  std::vector<std::string> modalForms;
  std::vector<std::string> broughtToFront;
  // Read by tests: the screen's pointer after each change, in order.
  std::vector<TCursor> cursors;

 private:
  std::mutex mutex_;
  TWindowHandle nextHandle_ = 0x10000;
};

// The process's headless backend (also when another one is installed).
HeadlessBackend& Headless();

// Sets the headless modal answer for its lifetime.
class ScopedModalAnswer {
 public:
  explicit ScopedModalAnswer(HeadlessBackend::ModalAnswer answer);
  ~ScopedModalAnswer();
  ScopedModalAnswer(const ScopedModalAnswer&) = delete;
  ScopedModalAnswer& operator=(const ScopedModalAnswer&) = delete;

 private:
  HeadlessBackend::ModalAnswer previous_;
};

}  // namespace vcl
