#include "vcl/PageControl.h"

#include <algorithm>

namespace vcl {
namespace {

// The row of tabs and the frame around the pages.
constexpr int kTabRowHeight = 24;
constexpr int kFrame = 4;

}  // namespace

TTabSheet::TTabSheet(TComponent* owner) : TWinControl(owner, "TTabSheet") {
  SetVisible(false);
}

TTabSheet::~TTabSheet() {
  if (pageControl_)
    pageControl_->PageRemoved(this);
}

void TTabSheet::SetPageControl(TPageControl* pageControl) {
  if (pageControl == pageControl_)
    return;
  if (pageControl_)
    pageControl_->PageRemoved(this);
  pageControl_ = pageControl;
  SetParent(pageControl);
  if (pageControl_)
    pageControl_->PageAdded(this);
}

int TTabSheet::PageIndex() const {
  if (!pageControl_)
    return -1;
  for (int i = 0; i < pageControl_->PageCount(); ++i) {
    if (pageControl_->Pages(i) == this)
      return i;
  }
  return -1;
}

void TTabSheet::TextChanged() {
  if (pageControl_)
    pageControl_->PageCaptionChanged();
}

TPageControl::TPageControl(TComponent* owner) : TWinControl(owner, "TPageControl") {
  SetBounds(0, 0, 289, 193);
}

TPageControl::~TPageControl() {
  // The pages go with their parent; they must not report back to a half-gone control.
  for (TTabSheet* page : pages_)
    page->pageControl_ = nullptr;
}

void TPageControl::PageAdded(TTabSheet* page) {
  pages_.push_back(page);
  PlacePage(page);
  Changed(TProperty::Items);
  if (!activePage_)
    SetActivePage(page);
}

void TPageControl::PageRemoved(TTabSheet* page) {
  std::erase(pages_, page);
  page->pageControl_ = nullptr;
  if (activePage_ == page)
    activePage_ = nullptr;
  if (Destroying())
    return;
  if (!activePage_ && !pages_.empty())
    SetActivePage(pages_.front());
  Changed(TProperty::Items);
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page && page->PageControl() != this)
    return;
  if (page == activePage_)
    return;
  TTabSheet* previous = activePage_;
  activePage_ = page;
  if (page)
    page->SetVisible(true);
  if (previous)
    previous->SetVisible(false);
  Changed(TProperty::ItemIndex);
}

int TPageControl::ActivePageIndex() const {
  return activePage_ ? activePage_->PageIndex() : -1;
}

void TPageControl::SetActivePageIndex(int index) {
  if (index >= 0 && index < PageCount())
    SetActivePage(pages_[static_cast<size_t>(index)]);
}

TRect TPageControl::DisplayRect() const {
  return TRect{kFrame, kTabRowHeight, std::max(Width() - kFrame, kFrame),
               std::max(Height() - kFrame, kTabRowHeight)};
}

void TPageControl::SelectTab(int index) {
  if (!CanFocus() || index < 0 || index >= PageCount())
    return;
  SetActivePageIndex(index);
  if (OnChange) {
    const TNotifyEvent handler = OnChange;
    handler(this);
  }
}

void TPageControl::BoundsChanged() {
  for (TTabSheet* page : pages_)
    PlacePage(page);
  TWinControl::BoundsChanged();
}

void TPageControl::PlacePage(TTabSheet* page) {
  const TRect area = DisplayRect();
  page->SetBounds(area.Left, area.Top, area.Width(), area.Height());
}

}  // namespace vcl
