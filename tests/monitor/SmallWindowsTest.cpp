// The main window's small pieces: the LED image that shows one cell of a
// strip, the multi-line hints, the about box and the user-notes window.
#include <gtest/gtest.h>

#include <string>

#include "monitor/Hint.h"
#include "monitor/IndexImage.h"
#include "monitor/LedStrip.h"
#include "vcl/StdCtrls.h"
#include "vcl/VclTestEnvironment.h"

namespace {

using monitor::TIndexImage;

class SmallWindowsTest : public korva_test::VclTest {};

// The colour in the middle of the cell an image shows.
vcl::TColor CentreOf(const TIndexImage& image) {
  const vcl::TBitmap& shown = image.Picture();
  return shown.Pixel(shown.Width() / 2, shown.Height() / 2);
}

// ---------------------------------------------------------------- LED strip

TEST(LedStripTest, FourLampsOnATransparentGround) {
  const vcl::TBitmap strip = monitor::LedStrip();
  ASSERT_EQ(strip.Width(), 68);
  ASSERT_EQ(strip.Height(), 17);
  for (int cell = 0; cell < 4; ++cell) {
    SCOPED_TRACE(cell);
    const int left = cell * 17;
    // Every corner is ground, so a transparent image shows its parent there.
    EXPECT_EQ(strip.Pixel(left, 0), monitor::kLedGround);
    EXPECT_EQ(strip.Pixel(left + 16, 0), monitor::kLedGround);
    EXPECT_EQ(strip.Pixel(left, 16), monitor::kLedGround);
    EXPECT_EQ(strip.Pixel(left + 16, 16), monitor::kLedGround);
    EXPECT_EQ(strip.Pixel(left + 8, 8), monitor::LedColor(static_cast<monitor::TLedCell>(cell)));
  }
  EXPECT_EQ(strip.TransparentColor(), monitor::kLedGround);
  // Four different lamps, none of them the ground.
  for (int a = 0; a < 4; ++a) {
    EXPECT_NE(strip.Pixel(a * 17 + 8, 8), monitor::kLedGround);
    for (int b = a + 1; b < 4; ++b)
      EXPECT_NE(strip.Pixel(a * 17 + 8, 8), strip.Pixel(b * 17 + 8, 8));
  }
}

// ---------------------------------------------------------------- TIndexImage

TEST_F(SmallWindowsTest, LedStripGivesFourCellsAndIgnoresIndexesPastThem) {
  TIndexImage image(nullptr);
  image.SetBigPicture(monitor::LedStrip());
  EXPECT_EQ(image.PictureIndex(), 0);
  EXPECT_EQ(image.Picture().Width(), 17);
  EXPECT_EQ(image.Picture().Height(), 17);
  EXPECT_EQ(CentreOf(image), monitor::LedColor(monitor::ledGrey));

  image.SetPictureIndex(3);
  EXPECT_EQ(image.PictureIndex(), 3);
  EXPECT_EQ(CentreOf(image), monitor::LedColor(monitor::ledRed));
  // The cell is the strip's fourth square, pixel for pixel.
  const vcl::TBitmap strip = monitor::LedStrip();
  for (int y = 0; y < 17; ++y) {
    for (int x = 0; x < 17; ++x)
      ASSERT_EQ(image.Picture().Pixel(x, y), strip.Pixel(51 + x, y)) << x << "," << y;
  }

  image.SetPictureIndex(4);
  EXPECT_EQ(image.PictureIndex(), 3);
  image.SetPictureIndex(-1);
  EXPECT_EQ(image.PictureIndex(), 3);
  EXPECT_EQ(CentreOf(image), monitor::LedColor(monitor::ledRed));
}

TEST_F(SmallWindowsTest, NextPictureCyclesThroughTheCells) {
  TIndexImage image(nullptr);
  image.SetBigPicture(monitor::LedStrip());
  image.NextPicture();
  EXPECT_EQ(image.PictureIndex(), 1);
  EXPECT_EQ(CentreOf(image), monitor::LedColor(monitor::ledYellow));
  image.NextPicture();
  image.NextPicture();
  EXPECT_EQ(image.PictureIndex(), 3);
  image.NextPicture();
  EXPECT_EQ(image.PictureIndex(), 0);
  EXPECT_EQ(CentreOf(image), monitor::LedColor(monitor::ledGrey));
}

TEST_F(SmallWindowsTest, OnOffShowsCellOneOrCellZero) {
  TIndexImage image(nullptr);
  EXPECT_EQ(image.PictureIndex(), -1);
  EXPECT_TRUE(image.ONOFF());  // nothing shown counts as "not cell 0"
  image.SetBigPicture(monitor::LedStrip());
  EXPECT_FALSE(image.ONOFF());
  image.SetONOFF(true);
  EXPECT_EQ(image.PictureIndex(), 1);
  EXPECT_EQ(CentreOf(image), monitor::LedColor(monitor::ledYellow));
  EXPECT_TRUE(image.ONOFF());
  image.SetPictureIndex(2);
  EXPECT_TRUE(image.ONOFF());
  image.SetONOFF(false);
  EXPECT_EQ(image.PictureIndex(), 0);
  EXPECT_FALSE(image.ONOFF());
}

TEST_F(SmallWindowsTest, EmptyOrNarrowStripShowsNothingAndIgnoresEveryIndex) {
  TIndexImage image(nullptr);
  for (int index : {0, 1, 3, -1}) {
    image.SetPictureIndex(index);
    EXPECT_EQ(image.PictureIndex(), -1);
  }
  image.NextPicture();
  image.SetONOFF(true);
  EXPECT_EQ(image.PictureIndex(), -1);
  EXPECT_TRUE(image.Picture().Empty());

  // A strip narrower than it is high holds no whole cell.
  image.SetBigPicture(vcl::TBitmap(10, 17));
  image.SetPictureIndex(0);
  EXPECT_EQ(image.PictureIndex(), -1);
  EXPECT_TRUE(image.Picture().Empty());

  // Cells are counted by whole squares: 40 x 17 holds two.
  image.SetBigPicture(vcl::TBitmap(40, 17));
  image.SetPictureIndex(1);
  EXPECT_EQ(image.PictureIndex(), 1);
  image.SetPictureIndex(2);
  EXPECT_EQ(image.PictureIndex(), 1);
}

TEST_F(SmallWindowsTest, ReplacingTheStripByAnEmptyOneLeavesNoCellBehind) {
  TIndexImage image(nullptr);
  image.SetBigPicture(monitor::LedStrip());
  image.SetPictureIndex(2);
  image.SetBigPicture(vcl::TBitmap());
  EXPECT_EQ(image.PictureIndex(), -1);
  EXPECT_TRUE(image.Picture().Empty());
  image.SetPictureIndex(1);
  EXPECT_EQ(image.PictureIndex(), -1);
  EXPECT_TRUE(image.Picture().Empty());

  // A new strip starts again at cell 0, even when cell 0 was shown before.
  image.SetBigPicture(monitor::LedStrip());
  EXPECT_EQ(image.PictureIndex(), 0);
  vcl::TBitmap red(17, 17, monitor::LedColor(monitor::ledRed));
  image.SetBigPicture(red);
  EXPECT_EQ(image.PictureIndex(), 0);
  EXPECT_EQ(image.Picture(), red);
}

// ---------------------------------------------------------------- THHint

TEST_F(SmallWindowsTest, HintSeparatorsBecomeLineBreaksUpToNinetyNine) {
  monitor::THHint hint(nullptr);
  vcl::THintInfo info;
  bool canShow = true;

  std::string text = "Settings@dialog";
  hint.ShowHintHook(text, canShow, info);
  EXPECT_EQ(text, "Settings\rdialog");
  EXPECT_TRUE(canShow);

  std::string many(120, '@');
  hint.ShowHintHook(many, canShow, info);
  EXPECT_EQ(many, std::string(99, '\r') + std::string(21, '@'));

  hint.Separator = '#';
  text = "a@b#c";
  hint.ShowHintHook(text, canShow, info);
  EXPECT_EQ(text, "a@b\rc");

  hint.Active = false;
  text = "a#b";
  hint.ShowHintHook(text, canShow, info);
  EXPECT_EQ(text, "a#b");
}

TEST_F(SmallWindowsTest, HintHookServesTheWholeProgramWhileTheComponentLives) {
  vcl::TForm form(nullptr);
  vcl::TLabel label(nullptr);
  label.SetParent(&form);
  label.SetHint("first@second|long help");
  label.SetShowHint(true);

  std::string shown;
  ASSERT_TRUE(vcl::Application().HintFor(label, shown));
  EXPECT_EQ(shown, "first@second");

  bool othersCalled = false;
  vcl::Application().OnShowHint = [&](std::string&, bool&, vcl::THintInfo&) {
    othersCalled = true;
  };
  auto* hint = new monitor::THHint(&vcl::Application());
  ASSERT_TRUE(vcl::Application().HintFor(label, shown));
  EXPECT_EQ(shown, "first\rsecond");
  EXPECT_FALSE(othersCalled);  // one handler for the whole program

  // Freed, it no longer handles hints (and none reaches the freed component).
  vcl::Free(hint);
  ASSERT_TRUE(vcl::Application().HintFor(label, shown));
  EXPECT_EQ(shown, "first@second");

  // A handler installed after it is left alone when it goes.
  auto* replaced = new monitor::THHint(nullptr);
  vcl::Application().OnShowHint = [&](std::string&, bool&, vcl::THintInfo&) {
    othersCalled = true;
  };
  vcl::Free(replaced);
  vcl::Application().HintFor(label, shown);
  EXPECT_TRUE(othersCalled);
}

}  // namespace
