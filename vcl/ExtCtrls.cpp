#include "vcl/ExtCtrls.h"

#include <algorithm>

#include "vcl/Forms.h"

namespace vcl {

TPanel::TPanel(TComponent* owner) : TWinControl(owner, "TPanel") {
  SetBounds(0, 0, 185, 41);
}

TImage::TImage(TComponent* owner) : TGraphicControl(owner, "TImage") {
  SetBounds(0, 0, 105, 105);
}

void TImage::SetPicture(const TBitmap& picture) {
  if (picture == picture_)
    return;
  picture_ = picture;
  Changed(TProperty::Picture);
}

void TImage::SetTransparent(bool transparent) {
  if (transparent == transparent_)
    return;
  transparent_ = transparent;
  Changed(TProperty::Picture);
}

TTimer::TTimer(TComponent* owner) : TComponent(owner, "TTimer") {}

TTimer::~TTimer() {
  Stop();
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_)
    return;
  enabled_ = enabled;
  UpdateTimer();
}

void TTimer::SetInterval(uint32_t interval) {
  if (interval == interval_)
    return;
  interval_ = interval;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent onTimer) {
  onTimer_ = std::move(onTimer);
  UpdateTimer();
}

void TTimer::SetTolerance(uint32_t tolerance) {
  tolerance_ = tolerance;
  if (timerId_ != 0 && loop_ == &platform::MainLoop())
    loop_->SetTimerTolerance(timerId_, tolerance_);
}

void TTimer::SetRestsWhileIdle(bool rests) {
  restsWhileIdle_ = rests;
  if (timerId_ != 0 && loop_ == &platform::MainLoop())
    loop_->SetTimerRestsWhileIdle(timerId_, restsWhileIdle_);
}

void TTimer::Stop() {
  if (timerId_ != 0 && loop_ == &platform::MainLoop())
    loop_->KillTimer(timerId_);
  timerId_ = 0;
  loop_ = nullptr;
}

void TTimer::UpdateTimer() {
  Stop();
  if (!enabled_ || interval_ == 0 || !onTimer_ || Destroying())
    return;
  loop_ = &platform::MainLoop();
  timerId_ = loop_->SetTimer(
      interval_,
      [this] {
        Guarded([this] {
          const TNotifyEvent handler = onTimer_;  // the handler may free this timer
          if (handler)
            handler(this);
        });
      },
      tolerance_);
  if (restsWhileIdle_)
    loop_->SetTimerRestsWhileIdle(timerId_, true);
}

TRadioGroup::TRadioGroup(TComponent* owner) : TWinControl(owner, "TRadioGroup") {
  SetBounds(0, 0, 185, 105);
}

void TRadioGroup::SetItems(const std::vector<std::string>& items) {
  items_ = items;
  if (itemIndex_ >= static_cast<int>(items_.size()))
    itemIndex_ = static_cast<int>(items_.size()) - 1;
  Changed(TProperty::Items);
}

void TRadioGroup::AddItem(const std::string& item) {
  items_.push_back(item);
  Changed(TProperty::Items);
}

void TRadioGroup::SetItemIndex(int index) {
  index = std::clamp(index, -1, static_cast<int>(items_.size()) - 1);
  if (index == itemIndex_)
    return;
  itemIndex_ = index;
  Changed(TProperty::ItemIndex);
}

void TRadioGroup::ClickItem(int index) {
  SetItemIndex(index);
  Click();
}

}  // namespace vcl
