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

class ControlsTest : public korva_test::VclTest {
 protected:
  ControlsTest() : form(Application().CreateForm<TForm>()) {}

  template <class T>
  T* Add(TWinControl* parent = nullptr) {
    T* control = new T(form);
    control->SetParent(parent ? parent : form);
    return control;
  }

  TForm* form;
};

TEST_F(ControlsTest, ASpeedButtonWithAllowAllUpTogglesOnEachClick) {
  auto* btnUpDown = Add<TSpeedButton>();
  btnUpDown->GroupIndex = 1;
  btnUpDown->AllowAllUp = true;
  std::vector<bool> seen;
  btnUpDown->OnClick = [&](TObject*) { seen.push_back(btnUpDown->Down()); };
  btnUpDown->Click();
  btnUpDown->Click();
  btnUpDown->Click();
  EXPECT_EQ(seen, (std::vector<bool>{true, false, true}));
  // Set from code (the key handler toggles it this way).
  btnUpDown->SetDown(!btnUpDown->Down());
  EXPECT_FALSE(btnUpDown->Down());
}

TEST_F(ControlsTest, ASpeedButtonWithoutAllowAllUpStaysDown) {
  auto* button = Add<TSpeedButton>();
  button->GroupIndex = 1;
  button->Click();
  EXPECT_TRUE(button->Down());
  button->Click();
  EXPECT_TRUE(button->Down());
  button->SetDown(false);
  EXPECT_TRUE(button->Down());
}

TEST_F(ControlsTest, ASpeedButtonWithoutAGroupNeverStaysDown) {
  auto* button = Add<TSpeedButton>();
  int clicks = 0;
  button->OnClick = [&](TObject*) { ++clicks; };
  button->Click();
  button->SetDown(true);
  EXPECT_FALSE(button->Down());
  EXPECT_EQ(clicks, 1);
}

TEST_F(ControlsTest, OneSpeedButtonOfAGroupIsDownAtATime) {
  auto* a = Add<TSpeedButton>();
  auto* b = Add<TSpeedButton>();
  auto* other = Add<TSpeedButton>();
  a->GroupIndex = b->GroupIndex = 3;
  other->GroupIndex = 4;
  other->SetDown(true);
  a->Click();
  EXPECT_TRUE(a->Down());
  b->Click();
  EXPECT_TRUE(b->Down());
  EXPECT_FALSE(a->Down());
  EXPECT_TRUE(other->Down());
}

TEST_F(ControlsTest, AButtonClickSetsTheFormsModalResultBeforeItsHandler) {
  auto* button = Add<TButton>();
  button->ModalResult = mrOk;
  TModalResult during = -1;
  button->OnClick = [&](TObject*) { during = form->ModalResult(); };
  button->Click();
  EXPECT_EQ(during, mrOk);
}

TEST_F(ControlsTest, StatusBarPanelsHoldTextAndWidth) {
  auto* bar = Add<TStatusBar>();
  TStatusPanel& panel = bar->Panels().Add();
  panel.SetWidth(360);
  bar->Panels()[0].SetText("COM1 open");
  EXPECT_EQ(bar->Panels().Count(), 1);
  EXPECT_EQ(bar->Panels()[0].Text(), "COM1 open");
  EXPECT_EQ(bar->Panels()[0].Width(), 360);
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

TEST_F(ControlsTest, APanelMovesAwayAndBack) {
  auto* pnlLEDs = Add<TPanel>();
  auto* pnlMask = Add<TPanel>(pnlLEDs);
  pnlMask->SetBounds(0, 0, 522, 98);
  pnlMask->SetLeft(-800);
  EXPECT_EQ(pnlMask->Left(), -800);
  EXPECT_EQ(pnlMask->Width(), 522);
  pnlMask->SetLeft(0);
  EXPECT_EQ(pnlMask->BoundsRect(), (TRect{0, 0, 522, 98}));
  EXPECT_EQ(pnlMask->Parent(), pnlLEDs);
  EXPECT_EQ(pnlMask->ParentForm(), form);
}

TEST_F(ControlsTest, AnEditHoldsItsTextAndReportsChanges) {
  auto* edRead = Add<TEdit>();
  EXPECT_EQ(edRead->Color(), clWindow);
  edRead->SetReadOnly(true);
  edRead->SetColor(clYellow);
  TFont font = edRead->Font();
  font.Name = "Courier New";
  font.Height = -13;
  font.Color = clNavy;
  font.Style = fsBold;
  edRead->SetFont(font);
  int changes = 0;
  edRead->OnChange = [&](TObject*) { ++changes; };
  edRead->SetText("*****..ALARM..DC_OK..");
  edRead->SetText("*****..ALARM..DC_OK..");
  edRead->Clear();
  EXPECT_EQ(changes, 2);
  EXPECT_TRUE(edRead->ReadOnly());
  EXPECT_EQ(edRead->Font().Name, "Courier New");
  EXPECT_EQ(edRead->Font().Style, fsBold);
}

TEST_F(ControlsTest, FontSizeAndHeightAgree) {
  TFont font;
  font.SetSize(8);
  EXPECT_EQ(font.Height, -11);
  EXPECT_EQ(font.Size(), 8);
}

TEST_F(ControlsTest, AnImageHoldsItsPicture) {
  auto* image = Add<TImage>();
  TBitmap strip(68, 17, clGray);
  strip.SetPixel(20, 3, clYellow);
  TBitmap cell(17, 17);
  cell.CopyRect(0, 0, strip, TRect{17, 0, 34, 17});
  EXPECT_EQ(cell.Pixel(3, 3), clYellow);
  EXPECT_EQ(cell.Pixel(0, 0), clGray);
  EXPECT_EQ(cell.TransparentColor(), clGray);
  image->SetPicture(cell);
  image->SetTransparent(true);
  EXPECT_EQ(image->Picture().Width(), 17);
  EXPECT_TRUE(image->Transparent());
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

TEST_F(ControlsTest, APopupMenuRecordsWhereItPoppedUp) {
  auto* menu = new TPopupMenu(form);
  std::vector<std::string> clicked;
  for (const char* caption : {"Caption", "-", "Show", "Exit"}) {
    auto* item = new TMenuItem(form);
    item->Caption = caption;
    item->OnClick = [&clicked, caption](TObject*) { clicked.push_back(caption); };
    menu->Items()->Add(item);
  }
  ASSERT_EQ(menu->Items()->Count(), 4);
  EXPECT_TRUE(menu->Items()->Items(1)->IsLine());
  headless().cursorPos = TPoint{500, 700};
  const TPoint at = headless().CursorPos();
  menu->Popup(at.X - 15, at.Y - 140);
  EXPECT_EQ(menu->PopupPoint(), (TPoint{485, 560}));
  EXPECT_EQ(menu->PopupCount(), 1);
  menu->Items()->Items(3)->Click();
  EXPECT_EQ(clicked, (std::vector<std::string>{"Exit"}));
}

TEST_F(ControlsTest, FreeingAMenuItemTakesItOutOfItsMenu) {
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
}

TEST_F(ControlsTest, FreeingAPanelFreesTheControlsOnIt) {
  auto* panel = new TPanel(nullptr);
  panel->SetParent(form);
  auto* label = Add<TLabel>(panel);
  label->SetName("lblDevice");
  EXPECT_EQ(form->FindComponent("lblDevice"), label);
  Free(panel);
  EXPECT_EQ(form->FindComponent("lblDevice"), nullptr);
  EXPECT_EQ(form->ControlCount(), 0);
}

TEST_F(ControlsTest, ControlsKeepTheirHintAndVisibility) {
  auto* label = Add<TLabel>();
  label->SetCaption("o.k.");
  label->SetHint("line one@line two");
  label->SetShowHint(true);
  label->Hide();
  EXPECT_EQ(label->Caption(), "o.k.");
  EXPECT_EQ(label->Text(), "o.k.");
  EXPECT_FALSE(label->Visible());
  EXPECT_TRUE(label->ShowHint());
}

}  // namespace
