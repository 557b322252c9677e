// Panels, images, timers and radio groups.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "vcl/Controls.h"
#include "vcl/Graphics.h"

namespace vcl {

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };

class TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* owner);

  // Read when the native control is made.
  TBevelCut BevelInner = bvNone;
  TBevelCut BevelOuter = bvRaised;
  int BevelWidth = 1;
};

class TImage : public TGraphicControl {
 public:
  explicit TImage(TComponent* owner);

  const TBitmap& Picture() const { return picture_; }
  void SetPicture(const TBitmap& picture);
  // Transparent: pixels of the picture's transparent colour show the parent.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool transparent);
  // Read when painting.
  bool Stretch = false;
  bool Center = false;

 private:
  TBitmap picture_;
  bool transparent_ = false;
};

// The class library's timer, exactly: it runs while Enabled, Interval is not
// 0 and OnTimer is assigned. Setting Enabled to what it is changes nothing
// (enabling a running timer does not restart it); a different Interval, or a
// new OnTimer, restarts a running timer; interval 0 never fires; ticks missed
// while the loop was busy come as one. Loop thread only.
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t interval);
  const TNotifyEvent& OnTimer() const { return onTimer_; }
  void SetOnTimer(TNotifyEvent onTimer);
  // How much earlier than due a tick may come when the loop wakes anyway
  // (platform::EventLoop::SetTimer); 0, the default, for none. Set by the
  // timer's owner, for a timer whose ticks need not keep time to the
  // millisecond; a new tolerance does not restart a running timer.
  uint32_t Tolerance() const { return tolerance_; }
  void SetTolerance(uint32_t tolerance);
  // Whether the timer needs no wake of its own while the loop has done
  // nothing else since its last tick (platform::EventLoop::
  // SetTimerRestsWhileIdle); false, the default, for a timer that keeps time.
  bool RestsWhileIdle() const { return restsWhileIdle_; }
  void SetRestsWhileIdle(bool rests);

  // Whether a platform timer is set now.
  bool Running() const { return timerId_ != 0; }

 private:
  void UpdateTimer();
  void Stop();

  bool enabled_ = true;
  uint32_t interval_ = 1000;
  uint32_t tolerance_ = 0;
  bool restsWhileIdle_ = false;
  TNotifyEvent onTimer_;
  platform::EventLoop* loop_ = nullptr;
  platform::EventLoop::TimerId timerId_ = 0;
};

class TRadioGroup : public TWinControl {
 public:
  explicit TRadioGroup(TComponent* owner);

  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(const std::vector<std::string>& items);
  void AddItem(const std::string& item);
  // -1: none chosen. Values past either end are clamped, as the class library does.
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  int Columns = 1;

  // A user's click on a choice: it becomes chosen, then OnClick.
  void ClickItem(int index);

 private:
  std::vector<std::string> items_;
  int itemIndex_ = -1;
};

}  // namespace vcl
