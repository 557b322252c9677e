#include "vcl/Backend.h"

#include <atomic>
#include <future>

#include "platform/EventLoop.h"
#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"

namespace vcl {
namespace {

std::atomic<Backend*> installed{nullptr};
thread_local const TControl* nativeUpdate = nullptr;

}  // namespace

HeadlessBackend& Headless() {
  static HeadlessBackend headless;
  return headless;
}

Backend& backend() {
  Backend* current = installed.load();
  return current ? *current : Headless();
}

Backend* SetBackend(Backend* next) {
  Backend* previous = installed.exchange(next);
  return previous ? previous : &Headless();
}

NativeUpdate::NativeUpdate(const TControl& control) : previous_(nativeUpdate) {
  nativeUpdate = &control;
}
NativeUpdate::~NativeUpdate() {
  nativeUpdate = previous_;
}
bool NativeUpdate::Active(const TControl& control) {
  return nativeUpdate == &control;
}

TWindowHandle HeadlessBackend::CreateFormHandle(TForm&) {
  std::lock_guard lock(mutex_);
  nextHandle_ += 4;
  return nextHandle_;
}

void HeadlessBackend::DestroyFormHandle(TForm&, TWindowHandle) {}

void HeadlessBackend::BringToFront(TForm& form) {
  broughtToFront.push_back(form.ClassName());
}

void HeadlessBackend::RunModal(TForm& form) {
  modalForms.push_back(form.ClassName());
  if (modalAnswer) {
    const ModalAnswer answer = modalAnswer;
    answer(form);
  }
  if (form.ModalResult() == mrNone) {
    if (TButton* button = form.DefaultButton())
      button->Click();
  }
  if (form.ModalResult() == mrNone)
    form.SetModalResult(mrCancel);
  form.CloseModal();
  // A close event that refuses cannot keep a headless form open: nobody could close it.
  if (form.ModalResult() == mrNone)
    form.SetModalResult(mrCancel);
}

bool HeadlessBackend::ExecuteOpenDialog(TOpenDialog& dialog) {
  if (!openDialogAnswer)
    return false;
  const OpenDialogAnswer answer = openDialogAnswer;
  return answer(dialog);
}

bool HeadlessBackend::AddTrayIcon(TForm& form, const TrayIconData& icon) {
  ++trayIconAdds;
  if (!trayShell)
    return false;
  RemoveTrayIcon(form, icon.id);
  trayIcons.push_back({form.ClassName(), icon.id, icon.callbackMessage, icon.image, icon.tip});
  return true;
}

bool HeadlessBackend::ModifyTrayIcon(TForm& form, const TrayIconData& icon) {
  if (!trayShell)
    return false;
  for (TrayIcon& shown : trayIcons) {
    if (shown.formClass == form.ClassName() && shown.id == icon.id) {
      shown = {form.ClassName(), icon.id, icon.callbackMessage, icon.image, icon.tip};
      return true;
    }
  }
  return false;
}

void HeadlessBackend::RemoveTrayIcon(TForm& form, uint32_t id) {
  std::erase_if(trayIcons, [&](const TrayIcon& icon) {
    return icon.formClass == form.ClassName() && icon.id == id;
  });
}

bool HeadlessBackend::RegisterHotKey(TForm& form, int id, uint32_t modifiers, uint16_t virtualKey) {
  for (const HotKey& key : hotKeys) {
    if (key.modifiers == modifiers && key.virtualKey == virtualKey)
      return false;
  }
  hotKeys.push_back({form.ClassName(), id, modifiers, virtualKey});
  return true;
}

void HeadlessBackend::UnregisterHotKey(TForm& form, int id) {
  std::erase_if(hotKeys, [&](const HotKey& key) {
    return key.formClass == form.ClassName() && key.id == id;
  });
}

TPoint HeadlessBackend::NonClientSize(const TForm& form) {
  int frame = 3;
  int caption = 22;
  switch (form.BorderStyle) {
    case bsNone:
      return TPoint{0, 0};
    case bsSizeable:
      frame = 4;
      break;
    case bsToolWindow:
      caption = 18;
      break;
    case bsSizeToolWin:
      frame = 4;
      caption = 18;
      break;
    case bsSingle:
    case bsDialog:
      break;
  }
  return TPoint{2 * frame, 2 * frame + caption};
}

bool HeadlessBackend::PostFormMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam,
                                      intptr_t lParam) {
  if (handle == 0 || !FindForm(handle))
    return false;
  // The form is looked up at delivery: a form freed meanwhile gets nothing.
  platform::MainLoop().Post([handle, msg, wParam, lParam] {
    Guarded([&] {
      if (TForm* form = FindForm(handle)) {
        TMessage message{msg, wParam, lParam, 0};
        form->WndProc(message);
      }
    });
  });
  return true;
}

intptr_t HeadlessBackend::SendFormMessage(TWindowHandle handle, uint32_t msg, uintptr_t wParam,
                                          intptr_t lParam) {
  auto deliver = [handle, msg, wParam, lParam]() -> intptr_t {
    TForm* form = FindForm(handle);
    if (!form)
      return 0;
    TMessage message{msg, wParam, lParam, 0};
    form->WndProc(message);
    return message.Result;
  };
  platform::EventLoop& loop = platform::MainLoop();
  if (loop.IsLoopThread())
    return deliver();
  auto done = std::make_shared<std::promise<intptr_t>>();
  std::future<intptr_t> result = done->get_future();
  loop.Post([done, deliver] {
    intptr_t value = 0;
    Guarded([&] { value = deliver(); });
    done->set_value(value);
  });
  return result.get();
}

ScopedModalAnswer::ScopedModalAnswer(HeadlessBackend::ModalAnswer answer)
    : previous_(std::move(Headless().modalAnswer)) {
  Headless().modalAnswer = std::move(answer);
}

ScopedModalAnswer::~ScopedModalAnswer() {
  Headless().modalAnswer = std::move(previous_);
}

}  // namespace vcl
