// The controls of settings dialogs: check boxes, drop-down lists, up-downs
// with their masked fields, page controls and group boxes; the focus, and
// the enabled state a container passes on.
#include <stdexcept>
#include <string>
#include <vector>

#include "VclTestEnvironment.h"
#include "vcl/CheckBox.h"
#include "vcl/ComboBox.h"
#include "vcl/GroupBox.h"
#include "vcl/MaskEdit.h"
#include "vcl/PageControl.h"
#include "vcl/StdCtrls.h"
#include "vcl/UpDown.h"

namespace {

using namespace vcl;

using DialogControlsTest = korva_test::FormTest;

TEST_F(DialogControlsTest, ADisabledOrHiddenContainerTakesItsControlsOutOfUse) {
  auto* group = Add<TGroupBox>();
  auto* inner = Add<TGroupBox>(group);
  auto* box = Add<TCheckBox>(inner);
  auto* button = Add<TButton>();
  button->SetFocus();
  EXPECT_TRUE(button->Focused());

  group->SetEnabled(false);
  EXPECT_TRUE(box->Enabled());
  EXPECT_FALSE(box->EffectiveEnabled());
  EXPECT_FALSE(inner->EffectiveEnabled());
  box->SetFocus();  // refused: the focus stays where it was
  EXPECT_EQ(form->ActiveControl(), button);
  box->ClickAt(2, 2);
  EXPECT_FALSE(box->Checked());

  group->SetEnabled(true);
  inner->SetVisible(false);
  EXPECT_TRUE(box->EffectiveEnabled());
  EXPECT_FALSE(box->EffectiveVisible());
  EXPECT_FALSE(box->CanFocus());
  inner->SetVisible(true);
  box->SetFocus();
  EXPECT_TRUE(box->Focused());

  // A focused control that goes leaves no focus behind.
  Free(box);
  EXPECT_EQ(form->ActiveControl(), nullptr);
}

TEST_F(DialogControlsTest, ACheckBoxTogglesOnAUserClickUnlessItsPressMovedTheFocus) {
  auto* box = Add<TCheckBox>();
  auto* other = Add<TButton>();
  int clicks = 0;
  box->OnClick = [&](TObject*) { ++clicks; };
  box->SetChecked(true);
  EXPECT_EQ(clicks, 0);  // set by code
  box->Click();
  EXPECT_FALSE(box->Checked());
  EXPECT_EQ(clicks, 1);

  std::vector<int> pressedAt;
  box->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int x, int) {
    pressedAt.push_back(x);
    if (x >= 18)
      other->SetFocus();
  };
  box->ClickAt(5, 3);
  EXPECT_TRUE(box->Checked());
  box->ClickAt(30, 3);
  EXPECT_TRUE(box->Checked());
  EXPECT_TRUE(other->Focused());
  EXPECT_EQ(pressedAt, (std::vector<int>{5, 30}));
  EXPECT_EQ(clicks, 2);
}

TEST_F(DialogControlsTest, ADropDownListReportsOnlyTheUsersChoice) {
  auto* list = Add<TComboBox>();
  int changes = 0;
  list->OnChange = [&](TObject*) { ++changes; };
  for (const char* item : {"USB", "COM1", "COM2"})
    list->AddItem(item);
  EXPECT_EQ(list->ItemIndex(), -1);
  list->SetItemIndex(2);
  list->SelectText("COM1");
  EXPECT_EQ(list->ItemIndex(), 1);
  EXPECT_EQ(list->Text(), "COM1");
  list->SelectText("COM9");
  EXPECT_EQ(list->ItemIndex(), -1);
  EXPECT_EQ(list->Text(), "");
  list->SetItemIndex(7);
  EXPECT_EQ(list->ItemIndex(), -1);
  EXPECT_EQ(changes, 0);

  list->SelectItem(0);
  EXPECT_EQ(list->Text(), "USB");
  EXPECT_EQ(changes, 1);
  list->SetEnabled(false);
  list->SelectItem(2);
  EXPECT_EQ(list->ItemIndex(), 0);
  EXPECT_EQ(changes, 1);

  list->ClearItems();
  EXPECT_EQ(list->ItemIndex(), -1);
  EXPECT_EQ(list->Text(), "");
}

TEST_F(DialogControlsTest, AnUpDownStopsOrWrapsAndAsksBeforeEveryChange) {
  auto* minutes = Add<TEdit>();
  auto* upMinutes = Add<TUpDown>();
  upMinutes->SetRange(0, 120);
  upMinutes->SetAssociate(minutes);
  EXPECT_EQ(minutes->Text(), "0");
  int asked = 0;
  upMinutes->OnChanging = [&](TObject*, bool&) { ++asked; };
  upMinutes->ClickButton(btPrev);  // at the bottom already: no change
  EXPECT_EQ(asked, 0);
  upMinutes->SetPosition(500);
  EXPECT_EQ(upMinutes->Position(), 120);
  EXPECT_EQ(minutes->Text(), "120");
  upMinutes->ClickButton(btNext);
  EXPECT_EQ(upMinutes->Position(), 120);
  upMinutes->SetPosition(-5);
  EXPECT_EQ(upMinutes->Position(), 0);
  EXPECT_EQ(asked, 2);  // a change by code asks too

  auto* seconds = Add<TMaskEdit>();
  seconds->SetEditMask("!999;1; ");
  std::vector<std::string> shown;
  seconds->OnChange = [&](TObject*) { shown.push_back(seconds->Text()); };
  auto* upSeconds = Add<TUpDown>();
  upSeconds->SetRange(0, 59);
  upSeconds->Wrap = true;
  upSeconds->SetAssociate(seconds);
  upSeconds->ClickButton(btPrev);
  EXPECT_EQ(upSeconds->Position(), 59);
  upSeconds->ClickButton(btNext);
  upSeconds->ClickButton(btNext);
  EXPECT_EQ(upSeconds->Position(), 1);
  EXPECT_EQ(shown, (std::vector<std::string>{"  0", " 59", "  0", "  1"}));

  upSeconds->OnChanging = [](TObject*, bool& allow) { allow = false; };
  upSeconds->ClickButton(btNext);
  EXPECT_EQ(upSeconds->Position(), 1);

  // The associate may go first.
  Free(seconds);
  upSeconds->OnChanging = nullptr;
  upSeconds->ClickButton(btNext);
  EXPECT_EQ(upSeconds->Position(), 2);
}

TEST_F(DialogControlsTest, AMaskedFieldKeepsItsDigitsInTheMasksShape) {
  auto* field = Add<TMaskEdit>();
  field->SetEditMask("!999;1; ");
  EXPECT_EQ(field->Text(), "   ");
  field->SetText("7");
  EXPECT_EQ(field->Text(), "  7");
  field->SetText("12345");
  EXPECT_EQ(field->Text(), "123");
  field->SetText("a-4");
  EXPECT_EQ(field->Text(), "  4");
  field->SetEditMask("99;0;_");
  EXPECT_EQ(field->Text(), "4_");
  for (const char* mask : {"", "!", "99x", "999;1;", "AA;1; "})
    EXPECT_THROW(field->SetEditMask(mask), std::invalid_argument) << mask;
}

TEST_F(DialogControlsTest, APageControlShowsOnePageAndReportsTheUsersTabs) {
  auto* pages = Add<TPageControl>();
  pages->SetBounds(0, 0, 300, 200);
  std::vector<TTabSheet*> sheets;
  for (int i = 0; i < 3; ++i) {
    sheets.push_back(new TTabSheet(form));
    sheets.back()->SetPageControl(pages);
  }
  EXPECT_EQ(pages->ActivePage(), sheets[0]);
  EXPECT_EQ(sheets[2]->PageIndex(), 2);
  EXPECT_TRUE(sheets[0]->Visible());
  EXPECT_FALSE(sheets[1]->Visible());
  EXPECT_EQ(sheets[1]->BoundsRect(), pages->DisplayRect());

  int changes = 0;
  pages->OnChange = [&](TObject*) { ++changes; };
  pages->SetActivePageIndex(1);
  EXPECT_EQ(changes, 0);
  pages->SelectTab(2);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(sheets[2]->Visible());
  EXPECT_FALSE(sheets[1]->Visible());
  pages->SelectTab(9);
  EXPECT_EQ(pages->ActivePageIndex(), 2);

  pages->SetBounds(0, 0, 400, 300);
  EXPECT_EQ(sheets[0]->BoundsRect(), pages->DisplayRect());
  Free(sheets[2]);
  EXPECT_EQ(pages->PageCount(), 2);
  EXPECT_EQ(pages->ActivePage(), sheets[0]);
}

}  // namespace
