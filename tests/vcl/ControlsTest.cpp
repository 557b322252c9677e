// The main window's controls: speed buttons and their groups, aligned bars and
// panels, edits, bitmaps, radio groups, and what freeing a control or a menu
// item takes along.
#include <string>
#include <vector>

#include "VclTestEnvironment.h"
#include "vcl/Buttons.h"
#include "vcl/ComCtrls.h"
#include "vcl/ExtCtrls.h"
#include "vcl/Menus.h"
#include "vcl/StdCtrls.h"

namespace {

using namespace vcl;

using ControlsTest = korva_test::FormTest;

TEST_F(ControlsTest, SpeedButtonsToggleStayDownOrNeverStayDownAsTheirGroupSays) {
  auto* toggle = Add<TSpeedButton>();
  toggle->GroupIndex = 1;
  toggle->AllowAllUp = true;
  std::vector<bool> seen;
  toggle->OnClick = [&](TObject*) { seen.push_back(toggle->Down()); };
  toggle->Click();
  toggle->Click();
  toggle->Click();
  EXPECT_EQ(seen, (std::vector<bool>{true, false, true}));
  toggle->SetDown(false);  // the key handler toggles it this way
  EXPECT_FALSE(toggle->Down());
  toggle->SetDown(true);

  // Without AllowAllUp one button of a group is down, and stays down.
  auto* a = Add<TSpeedButton>();
  auto* b = Add<TSpeedButton>();
  a->GroupIndex = b->GroupIndex = 3;
  a->Click();
  a->Click();
  a->SetDown(false);
  EXPECT_TRUE(a->Down());
  b->Click();
  EXPECT_TRUE(b->Down() && !a->Down());
  EXPECT_TRUE(toggle->Down());  // another group

  // Without a group, never.
  auto* loose = Add<TSpeedButton>();
  loose->Click();
  loose->SetDown(true);
  EXPECT_FALSE(loose->Down());
}

TEST_F(ControlsTest, AlignedControlsFillTheClientArea) {
  form->BorderStyle = bsDialog;
  form->SetClientWidth(546);
  form->SetClientHeight(293);
  auto* bar = Add<TStatusBar>();
  EXPECT_EQ(bar->Align(), alBottom);
  EXPECT_EQ(bar->Top(), 293 - bar->Height());
  EXPECT_EQ(bar->Width(), 546);
  auto* client = Add<TPanel>();
  client->SetAlign(alClient);
  EXPECT_EQ(client->BoundsRect(), (TRect{0, 0, 546, 293 - bar->Height()}));
  form->SetClientHeight(333);
  EXPECT_EQ(bar->Top(), 333 - bar->Height());
  EXPECT_EQ(client->Height(), 333 - bar->Height());
}

TEST_F(ControlsTest, AnEditReportsOnlyRealChangesAndFontSizesBecomeHeights) {
  auto* edRead = Add<TEdit>();
  int changes = 0;
  edRead->OnChange = [&](TObject*) { ++changes; };
  edRead->SetText("*****..ALARM..DC_OK..");
  edRead->SetText("*****..ALARM..DC_OK..");
  edRead->Clear();
  EXPECT_EQ(changes, 2);

  TFont font;
  font.SetSize(8);
  EXPECT_EQ(font.Height, -11);
  EXPECT_EQ(font.Size(), 8);
}

TEST_F(ControlsTest, ABitmapCellCopiedFromAStripKeepsItsPixelsAndTransparentColour) {
  TBitmap strip(68, 17, clGray);
  strip.SetPixel(20, 3, clYellow);
  TBitmap cell(17, 17);
  cell.CopyRect(0, 0, strip, TRect{17, 0, 34, 17});
  EXPECT_EQ(cell.Pixel(3, 3), clYellow);
  EXPECT_EQ(cell.Pixel(0, 0), clGray);
  EXPECT_EQ(cell.TransparentColor(), clGray);
  auto* image = Add<TImage>();
  image->SetPicture(cell);
  EXPECT_EQ(image->Picture(), cell);
  EXPECT_EQ(TBitmap().Pixel(0, 0), clNone);
}

TEST_F(ControlsTest, ARadioGroupClampsItsIndex) {
  auto* group = Add<TRadioGroup>();
  group->SetItems({"Deutsch", "English", "Francais", "Italiano"});
  EXPECT_EQ(group->ItemIndex(), -1);
  group->SetItemIndex(9);
  EXPECT_EQ(group->ItemIndex(), 3);
  group->SetItemIndex(-5);
  EXPECT_EQ(group->ItemIndex(), -1);
  int clicks = 0;
  group->OnClick = [&](TObject*) { ++clicks; };
  group->ClickItem(1);
  EXPECT_EQ(group->ItemIndex(), 1);
  EXPECT_EQ(clicks, 1);
}

TEST_F(ControlsTest, FreeingAnItemOrAPanelTakesItOutAndItsOwnedPartsAlong) {
  auto* menu = new TPopupMenu(form);
  auto* a = new TMenuItem(form);
  auto* b = new TMenuItem(form);
  menu->Items()->Add(a);
  menu->Items()->Add(b);
  Free(a);
  ASSERT_EQ(menu->Items()->Count(), 1);
  EXPECT_EQ(menu->Items()->Items(0), b);
  // Freeing the menu takes its items along, and their owner forgets them.
  const int before = form->ComponentCount();
  Free(menu);
  EXPECT_EQ(form->ComponentCount(), before - 2);

  auto* panel = new TPanel(nullptr);
  panel->SetParent(form);
  auto* label = Add<TLabel>(panel);
  label->SetName("lblDevice");
  Free(panel);
  EXPECT_EQ(form->FindComponent("lblDevice"), nullptr);
  EXPECT_EQ(form->ControlCount(), 0);
}

}  // namespace
