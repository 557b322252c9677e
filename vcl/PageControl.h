// The page control: a row of tabs over a set of pages (tab sheets), one of
// which shows at a time. A page's caption is its tab's text.
#pragma once

#include <vector>

#include "vcl/Controls.h"

namespace vcl {

class TPageControl;

class TTabSheet : public TWinControl {
 public:
  explicit TTabSheet(TComponent* owner);
  ~TTabSheet() override;

  TPageControl* PageControl() const { return pageControl_; }
  // Makes this the last page of `pageControl` (null: of none).
  void SetPageControl(TPageControl* pageControl);
  int PageIndex() const;

 protected:
  void TextChanged() override;

 private:
  friend class TPageControl;
  TPageControl* pageControl_ = nullptr;
};

class TPageControl : public TWinControl {
 public:
  explicit TPageControl(TComponent* owner);
  ~TPageControl() override;

  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabSheet* Pages(int index) const { return pages_.at(static_cast<size_t>(index)); }

  // The page shown; the others are hidden. Set by code: OnChange does not run.
  TTabSheet* ActivePage() const { return activePage_; }
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const;
  void SetActivePageIndex(int index);

  // The area the pages fill, within the control: below the row of tabs.
  TRect DisplayRect() const;

  // A user's click on a tab: its page shows, then OnChange. A disabled or
  // hidden page control takes no input.
  void SelectTab(int index);

  TNotifyEvent OnChange;

  // Told by the pages.
  void PageAdded(TTabSheet* page);
  void PageRemoved(TTabSheet* page);
  void PageCaptionChanged() { Changed(TProperty::Items); }

 protected:
  void BoundsChanged() override;

 private:
  void PlacePage(TTabSheet* page);

  std::vector<TTabSheet*> pages_;
  TTabSheet* activePage_ = nullptr;
};

}  // namespace vcl
