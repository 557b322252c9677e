// The tray icon puts itself back when the shell has lost it: on the shell's
// new task bar and when a change is refused, each time with one add; and it
// leaves with its form.
#include <string>

#include "VclTestEnvironment.h"
#include "vcl/TrayIcon.h"

namespace {

using namespace vcl;

class TrayIconTest : public korva_test::FormTest {
 protected:
  TrayIconTest() {
    icon->CallbackMessage = 0x8400;
    icon->Tip = "first";
  }

  // What the shell shows now: "tip image" of the form's icon, or "none".
  std::string Shown() {
    for (const auto& shown : headless().trayIcons) {
      if (shown.formClass == form->ClassName() && shown.id == icon->ID &&
          shown.callbackMessage == icon->CallbackMessage)
        return shown.tip + (shown.image == TTrayIconImage::Main ? " main" : " window");
    }
    return "none";
  }
  void ShellRestarts() {
    headless().trayIcons.clear();
    SendMessage(form->Handle(), HeadlessBackend::kTaskbarCreated, 0, 0);
  }

  TTrayIcon* icon = new TTrayIcon(form);
};

TEST_F(TrayIconTest, ChangesReachTheShellAndALostIconComesBackWithOneAdd) {
  ASSERT_TRUE(icon->Add());
  EXPECT_EQ(Shown(), "first window");

  icon->Tip = "second";
  icon->Image = TTrayIconImage::Main;
  EXPECT_TRUE(icon->Modify());
  EXPECT_EQ(Shown(), "second main");
  EXPECT_EQ(headless().trayIconAdds, 1);

  // The shell lost its icons without a word: the next change adds it again.
  headless().trayIcons.clear();
  icon->Tip = "third";
  EXPECT_TRUE(icon->Modify());
  EXPECT_EQ(Shown(), "third main");
  EXPECT_EQ(headless().trayIconAdds, 2);

  ShellRestarts();
  EXPECT_EQ(Shown(), "third main");
  EXPECT_EQ(headless().trayIconAdds, 3);

  // Removed, it stays away, also from the next task bar.
  icon->Remove();
  ShellRestarts();
  EXPECT_EQ(Shown(), "none");
  EXPECT_EQ(headless().trayIconAdds, 3);
}

TEST_F(TrayIconTest, AnIconAddedBeforeTheShellRunsAppearsWithItsTaskBar) {
  headless().trayShell = false;
  EXPECT_FALSE(icon->Add());
  EXPECT_FALSE(icon->Modify());  // one add more, refused as well
  EXPECT_EQ(headless().trayIconAdds, 2);
  EXPECT_EQ(Shown(), "none");
  EXPECT_TRUE(icon->Wanted() && !icon->Shown());

  headless().trayShell = true;
  ShellRestarts();
  EXPECT_EQ(Shown(), "first window");
  EXPECT_EQ(headless().trayIconAdds, 3);
  EXPECT_TRUE(icon->Shown());
  icon->Remove();
  EXPECT_FALSE(icon->Shown());
}

TEST_F(TrayIconTest, TheIconLeavesWithItsForm) {
  ASSERT_TRUE(icon->Add());
  Free(form);
  EXPECT_TRUE(headless().trayIcons.empty());
}

}  // namespace
