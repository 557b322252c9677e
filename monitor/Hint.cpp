#include "monitor/Hint.h"

namespace monitor {
namespace {

// The handler as the application holds it; recognisable again by its target.
struct HintHook {
  THHint* hint;
  void operator()(std::string& hintStr, bool& canShow, vcl::THintInfo& hintInfo) const {
    hint->ShowHintHook(hintStr, canShow, hintInfo);
  }
};

}  // namespace

THHint::THHint(vcl::TComponent* owner)
    : vcl::TComponent(owner, "THHint"), application_(&vcl::Application()) {
  application_->OnShowHint = HintHook{this};
  application_->FreeNotification(this);
}

THHint::~THHint() {
  if (!application_)
    return;
  vcl::TShowHintEvent& handler = application_->OnShowHint;
  if (const HintHook* hook = handler.target<HintHook>(); hook && hook->hint == this)
    handler = nullptr;
}

void THHint::Notification(vcl::TComponent* component, vcl::TOperation operation) {
  if (operation == vcl::TOperation::opRemove && component == application_)
    application_ = nullptr;
  vcl::TComponent::Notification(component, operation);
}

void THHint::ShowHintHook(std::string& hintStr, bool& /*canShow*/, vcl::THintInfo& /*hintInfo*/) {
  if (!Active)
    return;
  int breaks = 0;
  for (char& c : hintStr) {
    if (breaks == kMaxBreaks)
      break;
    if (c == Separator) {
      c = '\r';
      ++breaks;
    }
  }
}

}  // namespace monitor
