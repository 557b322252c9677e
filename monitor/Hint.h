// Unit Hint: multi-line hints. While a THHint lives, every hint the program
// shows has its separator characters turned into line breaks, so hint texts
// written on one line ("Settings@of the module") show on several.
#pragma once

#include <string>

#include "vcl/Classes.h"
#include "vcl/Forms.h"

namespace monitor {

class THHint : public vcl::TComponent {
 public:
  // Installs ShowHintHook as the application's one hint-show handler,
  // replacing any other.
  explicit THHint(vcl::TComponent* owner);
  // Takes the handler away again when it is still this one's, so that no
  // hint reaches a freed component.
  ~THHint() override;

  bool Active = true;
  char Separator = '@';

  // At most this many separators of one hint become line breaks.
  static constexpr int kMaxBreaks = 99;

  // When Active: each Separator in `hintStr` becomes a CR, the first
  // kMaxBreaks of them only. The hint shows as usual.
  void ShowHintHook(std::string& hintStr, bool& canShow, vcl::THintInfo& hintInfo);

 protected:
  void Notification(vcl::TComponent* component, vcl::TOperation operation) override;

 private:
  // The application whose handler this is; null once it is gone.
  vcl::TApplication* application_;
};

}  // namespace monitor
