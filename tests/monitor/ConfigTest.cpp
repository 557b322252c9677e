// The settings dialog in the running program: what it loads from the file,
// what Ok checks and writes, the write protection and the lock, the port
// change at once, and the switches the reactions read from it.

#include <filesystem>
#include <functional>

#include "BackgroundStarts.h"
#include "KorvamonTestProgram.h"
#include "monitor/ReactionSwitches.h"
#include "monitor/config.h"
#include "monitor/lang.h"
#include "platform/Files.h"
#include "platform/MessageBoxes.h"
#include "platform/Process.h"
#include "platform/Services.h"
#include "vcl/Screen.h"

namespace {

using korva_test::KorvamonTest;
using korva_test::TestFolder;
using monitor::GetLangString;
using monitor::TfrmConfig;

class ConfigTest : public KorvamonTest {
 protected:
  TfrmConfig& dialog() { return *monitor::frmConfig; }
  void StartEnglish() {
    Given("[CHECK]\r\nLanguage=E\r\n");
    Start();
  }

  // The settings command, with `user` doing what a user does in the dialog.
  // Returns the dialog's result as the user left it (mrNone: still open).
  vcl::TModalResult Settings(const std::function<void(TfrmConfig&)>& user) {
    vcl::TModalResult left = vcl::mrNone;
    vcl::ScopedModalAnswer answer([&](vcl::TForm&) {
      user(dialog());
      left = dialog().ModalResult();
    });
    main().btnKonfig->Click();
    return left;
  }

  // A program file that exists, as a user would type it.
  std::string Program(const std::string& name) {
    const std::string path = folder_.File(name);
    TestFolder::Put(path, "");
    return path;
  }
};

// A user goes to the page of a control and clicks it there.
void GoTo(vcl::TControl* control) {
  for (vcl::TControl* at = control; at; at = at->Parent()) {
    if (auto* page = dynamic_cast<vcl::TTabSheet*>(at))
      page->PageControl()->SelectTab(page->PageIndex());
  }
}
void Tick(vcl::TCheckBox* box, int x = 5) {
  GoTo(box);
  box->ClickAt(x, 5);
}
void Arrow(vcl::TUpDown* arrows, vcl::TUDBtnType button) {
  GoTo(arrows);
  arrows->ClickButton(button);
}

TEST_F(ConfigTest, AMinimalFileLoadsWithTheDialogsOwnDefaults) {
  StartEnglish();
  Settings([](TfrmConfig& d) {
    EXPECT_EQ(d.cboxCOM->ItemIndex(), -1);
    EXPECT_EQ(d.edSDMin->Text() + ":" + d.edSDSec->Text(), "10:  5");
    EXPECT_EQ(d.edStartMin->Text() + ":" + d.edStartSec->Text(), "0:  0");
    EXPECT_TRUE(d.cbDC_LOShutDown->Checked());
    EXPECT_TRUE(d.cbShutdown->Checked());
    // Unlocked at the first showing, the shutdown signal is usable.
    EXPECT_TRUE(d.cbShutdown->EffectiveEnabled());
    EXPECT_FALSE(d.chkWinShutdown->Checked());
    EXPECT_FALSE(d.cbDC_LOWStart->Checked() || d.cbAlarmStart->Checked());
    EXPECT_TRUE(d.edDC_LOW->Text().empty());
    EXPECT_FALSE(d.Modified());
    EXPECT_TRUE(d.cbWriteProtect->Visible() && !d.cbWriteProtect->Checked());
  });
  const monitor::ReactionSwitches switches = monitor::CurrentReactionSwitches();
  EXPECT_TRUE(switches.shutdownAfterBattery);
  EXPECT_FALSE(switches.StartProgram(monitor::ProgramEvent::DcLow));
  EXPECT_EQ(switches.shutdownRepeat, 0);
}

TEST_F(ConfigTest, ValuesLoadAsEachKeysReaderTakesThem) {
  Given(
      "[CHECK]\r\nLanguage=E\r\nDC_LOW_ShutDown=\r\nDC_LOW_Start=1\r\nAlarmStart=1\r\n"
      "NoConnect=x\r\nRepeatAbschaltung=7\r\n"
      "[START]\r\nDC_LOW=\r\nALARM=alarm.exe\r\nNOCONNECT=net.exe\r\n"
      "ShutDownMinutes=500\r\nShutDownSeconds=abc\r\nStartMinutes=-3\r\nStartSeconds=75\r\n"
      "[ACTION]\r\nShutdownSignal=\r\nWINDOWSSDSIGNAL=1\r\nOpenWindow_Full=1\r\n"
      "OpenMin_Full=2\r\nOpenSec_Full=30\r\n[COM]\r\nCOMPORT=3\r\n");
  Start();
  Settings([](TfrmConfig& d) {
    EXPECT_TRUE(d.cbDC_LOShutDown->Checked());  // present but empty
    EXPECT_FALSE(d.cbShutdown->Checked());      // present but empty
    EXPECT_FALSE(d.cbDC_LOWStart->Checked());   // no program to start
    EXPECT_TRUE(d.cbAlarmStart->Checked());
    EXPECT_FALSE(d.cbNoConnectStart->Checked());  // not a number
    EXPECT_TRUE(d.chkWinShutdown->Checked());
    EXPECT_FALSE(d.chkWinShutdown->Enabled());  // a COM port, no USB link running
    EXPECT_EQ(d.cboxCOM->Text(), "COM3");
    EXPECT_EQ(d.udMin->Position(), 120);
    EXPECT_EQ(d.udSec->Position(), 5);
    EXPECT_EQ(d.udStartMin->Position(), 0);
    EXPECT_EQ(d.edStartSec->Text(), " 59");
    EXPECT_TRUE(d.cbOpen_Under85->Checked());
    EXPECT_EQ(d.edOpenmin_Under85->Text() + d.edOpensec_Under85->Text(), "2 30");
    EXPECT_EQ(d.udSDRepeat->Position(), 7);
  });

  for (const auto& [com, entry] : std::vector<std::pair<std::string, std::string>>{
           {"USBPORT=1\r\nCOMPORT=3", "USB"}, {"COMPORT=9", ""}, {"COMPORT=03", ""}}) {
    SCOPED_TRACE(com);
    Given("[CHECK]\r\nLanguage=E\r\n[COM]\r\n" + com + "\r\n");
    Settings([&, &expected = entry](TfrmConfig& d) { EXPECT_EQ(d.cboxCOM->Text(), expected); });
  }
}

TEST_F(ConfigTest, OkWithoutAChangeWritesNothing) {
  StartEnglish();
  const std::string before = Ini();
  const auto written = platform::files().LastWriteTime(path_);
  EXPECT_EQ(Settings([](TfrmConfig& d) { d.Ok->Click(); }), vcl::mrCancel);
  EXPECT_EQ(Ini(), before);
  EXPECT_EQ(platform::files().LastWriteTime(path_), written);

  // Cancel after a change writes nothing either, but the reactions follow
  // the box until the dialog loads the file again.
  Settings([&](TfrmConfig& d) {
    d.edAlarm->SetText(Program("alarm.exe"));
    Tick(d.cbAlarmStart);
    d.btnAbbrechen->Click();
  });
  EXPECT_EQ(Ini(), before);
  EXPECT_TRUE(monitor::CurrentReactionSwitches().StartProgram(monitor::ProgramEvent::Alarm));
  Settings([](TfrmConfig& d) { d.btnAbbrechen->Click(); });
  EXPECT_FALSE(monitor::CurrentReactionSwitches().StartProgram(monitor::ProgramEvent::Alarm));
}

TEST_F(ConfigTest, ASaveWritesEveryKeyInItsOrderInOneReplacementOfTheFile) {
  StartEnglish();
  // A file that would refuse a second replacement takes the whole save.
  korva_test::FaultyFiles files;
  files.refuseFrom = 2;
  platform::ScopedService<platform::Files> guard(files);
  const std::string dcLow = Program("ups.exe") + " -quiet";
  const std::string history = Ini().substr(Ini().find("HistoryPath="));
  EXPECT_EQ(Settings([&](TfrmConfig& d) {
              d.cboxCOM->SetItemIndex(2);
              d.edDC_LOW->SetText("  " + dcLow + " ");
              Tick(d.cbDC_LOWStart);
              Arrow(d.udStartSec, vcl::btNext);
              Tick(d.cbOpen_NoConn);
              Tick(d.cbMusic);
              Arrow(d.udOpensec_Alarm, vcl::btPrev);
              d.udSDRepeat->SetPosition(3);
              d.Ok->Click();
            }),
            vcl::mrOk);
  std::string expected = "[CHECK]\r\nLanguage=E\r\n" + history +
                         "DC_LOW_Start=1\r\nDC_LOW_ShutDown=1\r\nAlarmStart=0\r\nNoConnect=0\r\n"
                         "Akku=0\r\nOver85=0\r\nUnder85=0\r\nRepeatAbschaltung=3\r\n"
                         "[COM]\r\nUSBPORT=0\r\nCOMPORT=2\r\n"
                         "[START]\r\nDC_LOW=" +
                         dcLow +
                         "\r\nALARM=\r\nNOCONNECT=\r\nAKKU=\r\nOVER85=\r\nUNDER85=\r\n"
                         "ShutDownMinutes=10\r\nShutDownSeconds=  5\r\nStartMinutes=0\r\n"
                         "StartSeconds=  1\r\nAlarmMinutes=0\r\nAlarmSeconds=  0\r\n"
                         "VerbindungMinutes=0\r\nVerbindungSeconds=  0\r\nAkkuMinutes=0\r\n"
                         "AkkuSeconds=  0\r\nOver85Minutes=0\r\nOver85Seconds=  0\r\n"
                         "Under85Minutes=0\r\nUnder85Seconds=  0\r\n"
                         "[ACTION]\r\nOpenWindow_Batt=0\r\nOpenWindow_Alarm=0\r\n"
                         "OpenWindow_NoConn=1\r\nOpenWindow_Akku=0\r\nOpenWindow_Full=0\r\n"
                         "PlaySound=1\r\nShutdownSignal=1\r\nWINDOWSSDSIGNAL=0\r\n"
                         "OpenMin_Batt=0\r\nOpenSec_Batt=  0\r\nOpenMin_Alarm=0\r\n"
                         "OpenSec_Alarm= 59\r\nOpenMin_Akku=0\r\nOpenSec_Akku=  0\r\n"
                         "OpenMin_Full=0\r\nOpenSec_Full=  0\r\nOpenMin_NoConn=0\r\n"
                         "OpenSec_NoConn=  0\r\n";
  EXPECT_EQ(Ini(), expected);
  EXPECT_EQ(files.replacements, 1);
  files.refuseFrom = 0;
  EXPECT_TRUE(monitor::ShutdownSignalEnabled);
  EXPECT_FALSE(dialog().WriteProtectRequested);
  const monitor::ReactionSwitches switches = monitor::CurrentReactionSwitches();
  EXPECT_EQ(switches.batteryProgram, dcLow);
  EXPECT_TRUE(switches.OpenWindow(monitor::OpenEvent::NoConn) && switches.playSound);
  EXPECT_EQ(switches.shutdownRepeat, 3);

  // The shutdown signal follows the save: off with the box, and off when the
  // shutdown itself is off.
  Settings([](TfrmConfig& d) {
    Tick(d.cbDC_LOShutDown);
    EXPECT_FALSE(d.cbShutdown->Checked() || d.cbShutdown->Enabled());
    d.Ok->Click();
  });
  EXPECT_FALSE(monitor::ShutdownSignalEnabled);
}

TEST_F(ConfigTest, TheBatteryProgramMustStartBeforeTheShutdown) {
  StartEnglish();
  const std::string program = Program("ups.exe");
  const std::string before = Ini();
  auto delays = [&](int startMin, int startSec, int downMin, int downSec) {
    return [=](TfrmConfig& d) {
      d.edDC_LOW->SetText(program);
      Tick(d.cbDC_LOWStart);
      d.udStartMin->SetPosition(startMin);
      d.udStartSec->SetPosition(startSec);
      d.udMin->SetPosition(downMin);
      d.udSec->SetPosition(downSec);
      d.Ok->Click();
    };
  };
  for (const auto& refused : {delays(61, 0, 60, 59), delays(0, 0, 0, 0)}) {
    boxes_.Clear();
    EXPECT_EQ(Settings(refused), vcl::mrNone);
    EXPECT_FALSE(dialog().cbDC_LOWStart->Checked());
    EXPECT_EQ(Ini(), before);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text, GetLangString(346));
    EXPECT_EQ(boxes_.shown()[0].flags, platform::kMbOk | platform::kMbIconInformation);
  }
  EXPECT_EQ(Settings(delays(60, 59, 61, 0)), vcl::mrOk);
  EXPECT_NE(Ini().find("StartMinutes=60\r\nStartSeconds= 59\r\n"), std::string::npos);
  // Without the shutdown switched on, any delay goes.
  EXPECT_EQ(Settings([&](TfrmConfig& d) {
              EXPECT_TRUE(d.cbDC_LOWStart->Checked());
              Tick(d.cbDC_LOShutDown);
              d.udMin->SetPosition(0);
              d.udSec->SetPosition(0);
              d.Ok->Click();
            }),
            vcl::mrOk);
}

TEST_F(ConfigTest, AProgramThatIsNoProgramFileIsShownAndNothingIsSaved) {
  StartEnglish();
  const std::string before = Ini();
  const std::string missing = folder_.File("gone.exe") + " /x";
  EXPECT_EQ(Settings([&](TfrmConfig& d) {
              d.edAlarm->SetText(Program("alarm.exe"));
              d.edOver85->SetText("\t" + missing + " ");
              d.Ok->Click();
              EXPECT_TRUE(d.edOver85->Focused());
              EXPECT_EQ(d.PageControl1->ActivePage(), d.TS_Ladezustand);
              EXPECT_EQ(d.edOver85->Text(), missing);
            }),
            vcl::mrNone);
  EXPECT_EQ(Ini(), before);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{GetLangString(340) + "\r\n" + missing});

  // Browsing: a file that is no program is refused, one that is becomes the field.
  boxes_.Clear();
  const std::string batch = Program("run.bat");
  int offered = 0;
  headless().openDialogAnswer = [&](vcl::TOpenDialog& open) {
    open.FileName = ++offered == 1 ? folder_.File("notes.txt") : batch;
    return true;
  };
  Settings([&](TfrmConfig& d) {
    d.btnAkku->Click();
    EXPECT_TRUE(d.edAkku->Text().empty());
    d.btnAkku->Click();
    EXPECT_EQ(d.edAkku->Text(), batch);
    d.btnHistpath->Click();
    EXPECT_EQ(d.edHistpath->Text(), batch);
  });
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{GetLangString(340) + "\r\n" + folder_.File("notes.txt")});
}

TEST_F(ConfigTest, ATestButtonStartsItsProgramAtOnce) {
  platform::RecordingProcesses processes;
  platform::ScopedService<platform::Processes> processesGuard(processes);
  StartEnglish();
  const std::string program = Program("alarm.exe");
  Settings([&](TfrmConfig& d) {
    d.btnTestlaufAlarm->Click();  // nothing to start
    d.edAlarm->SetText(folder_.File("gone.exe"));
    d.btnTestlaufAlarm->Click();
    d.edAlarm->SetText(program + " -now");
    d.btnTestlaufAlarm->Click();
    d.btnAbbrechen->Click();
  });
  EXPECT_EQ(BoxTexts(),
            std::vector<std::string>{GetLangString(340) + "\r\n" + folder_.File("gone.exe")});
  ASSERT_TRUE(korva_test::FinishProgramStarts());
  ASSERT_EQ(processes.requests().size(), 1u);
  EXPECT_EQ(processes.requests()[0].file, "ALARM.EXE");
  EXPECT_EQ(processes.requests()[0].parameters, "-NOW");
}

TEST_F(ConfigTest, EmptyingAProgramFieldUnticksItsStartSwitch) {
  Given("[CHECK]\r\nLanguage=E\r\nNoConnect=1\r\n[START]\r\nNOCONNECT=net.exe\r\n");
  Start();
  Settings([](TfrmConfig& d) {
    EXPECT_TRUE(d.cbNoConnectStart->Checked());
    d.edNoConnect->SetText("  ");
    EXPECT_FALSE(d.cbNoConnectStart->Checked());
    Tick(d.cbNoConnectStart);
    EXPECT_FALSE(d.cbNoConnectStart->Checked());
    EXPECT_TRUE(d.Modified());
  });
}

TEST_F(ConfigTest, WriteProtectionLocksTheDialog) {
  StartEnglish();
  EXPECT_EQ(Settings([](TfrmConfig& d) {
              Tick(d.cbWriteProtect, 30);  // on the caption: no change
              EXPECT_FALSE(d.cbWriteProtect->Checked());
              EXPECT_TRUE(d.Ok->Focused());
              Tick(d.cbWriteProtect);
              EXPECT_TRUE(d.cbWriteProtect->Checked());
              d.Ok->Click();
            }),
            vcl::mrOk);
  EXPECT_EQ(platform::files().GetAttributes(path_) &
                (platform::kFileAttributeReadOnly | platform::kFileAttributeArchive),
            platform::kFileAttributeReadOnly | platform::kFileAttributeArchive);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{GetLangString(108)});

  const std::string before = Ini();
  Settings([](TfrmConfig& d) {
    EXPECT_TRUE(d.WriteProtected());
    EXPECT_TRUE(d.pnlWP->Visible());
    EXPECT_FALSE(d.cbWriteProtect->Visible());
    for (int i = 0; i < d.ComponentCount(); ++i) {
      auto* control = dynamic_cast<vcl::TWinControl*>(d.Components(i));
      const bool setting =
          dynamic_cast<vcl::TEdit*>(control) || dynamic_cast<vcl::TCheckBox*>(control) ||
          dynamic_cast<vcl::TUpDown*>(control) || dynamic_cast<vcl::TComboBox*>(control) ||
          dynamic_cast<vcl::TButton*>(control);
      if (setting && control != d.btnHistpath && control != d.btnAbbrechen) {
        EXPECT_FALSE(control->EffectiveEnabled()) << control->Name();
      }
    }
    EXPECT_TRUE(d.btnHistpath->EffectiveEnabled());
    Tick(d.cbWriteProtect);
    Tick(d.cbMusic);
    EXPECT_FALSE(d.cbMusic->Checked());
    d.btnAbbrechen->Click();
  });
  EXPECT_EQ(Ini(), before);
  EXPECT_EQ(BoxTexts().size(), 1u);
}

TEST_F(ConfigTest, AFileMadeReadOnlyMeanwhileKeepsEverythingAndLocksAtTheNextShowing) {
  StartEnglish();
  const std::string before = Ini();
  bool stillModified = false;
  EXPECT_EQ(Settings([&](TfrmConfig& d) {
              Tick(d.cbMusic);
              Tick(d.cbWriteProtect);
              TestFolder::MakeReadOnly(path_);
              d.Ok->Click();
              stillModified = d.Modified();
              EXPECT_TRUE(d.Ok->EffectiveEnabled());
            }),
            vcl::mrNone);
  EXPECT_TRUE(stillModified);
  EXPECT_FALSE(dialog().WriteProtectRequested);
  EXPECT_EQ(Ini(), before);
  EXPECT_EQ(vcl::Screen().Cursor(), vcl::crDefault);
  EXPECT_EQ(headless().cursors, (std::vector<vcl::TCursor>{vcl::crHourGlass, vcl::crDefault}));
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_NE(boxes_.shown()[0].text.find("USBPORT"), std::string::npos);
  EXPECT_EQ(boxes_.shown()[0].flags, platform::kMbOk | platform::kMbIconError);

  Settings([](TfrmConfig& d) {
    EXPECT_TRUE(d.pnlWP->Visible());
    EXPECT_FALSE(d.Ok->EffectiveEnabled());
    EXPECT_FALSE(d.cbMusic->EffectiveEnabled());
  });
}

TEST_F(ConfigTest, TheChargePageNeedsTheShortFrames) {
  StartEnglish();
  main().Has28CharFrames = false;
  Settings([](TfrmConfig& d) {
    EXPECT_FALSE(d.edOver85->EffectiveEnabled());
    EXPECT_FALSE(d.udUnder85Sec->EffectiveEnabled());
    EXPECT_FALSE(d.cbShutdown->EffectiveEnabled());
    EXPECT_TRUE(d.cbDC_LOShutDown->EffectiveEnabled());
  });
  main().Has28CharFrames = true;
  Settings([](TfrmConfig& d) {
    EXPECT_TRUE(d.edOver85->EffectiveEnabled());
    EXPECT_TRUE(d.cbShutdown->EffectiveEnabled());
  });
}

TEST_F(ConfigTest, ChoosingAPortSwitchesTheLinkAtOnce) {
  ports_.Attach("COM1");
  Given("[CHECK]\r\nLanguage=E\r\n[COM]\r\nCOMPORT=1\r\n");
  Start();
  ASSERT_TRUE(main().SComm->Active());
  vcl::TTimer* watchdog = main().TimerConnection;

  Settings([&](TfrmConfig& d) {
    d.cboxCOM->SelectItem(0);
    EXPECT_FALSE(main().SComm->Active());
    EXPECT_EQ(main().SComm->COMPort(), 0);
    EXPECT_TRUE(d.chkWinShutdown->Enabled());
    EXPECT_EQ(main().WatchdogTicks, 1);
    EXPECT_TRUE(watchdog->Running());

    d.cboxCOM->SelectItem(1);
    EXPECT_TRUE(main().SComm->Active());
    EXPECT_FALSE(d.chkWinShutdown->Enabled());
    EXPECT_TRUE(boxes_.shown().empty());

    // A port no link opens on: said at once; the watchdog goes on.
    d.cboxCOM->SelectItem(6);
    EXPECT_FALSE(main().SComm->Active());
    EXPECT_TRUE(watchdog->Running());
    EXPECT_EQ(watchdog->Interval(), 1000u);
    EXPECT_TRUE(d.Modified());
    d.Ok->Click();
  });
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text.rfind(GetLangString(53) + "6" + GetLangString(54), 0), 0u);
  EXPECT_EQ(boxes_.shown()[0].flags, platform::kMbOk | platform::kMbIconError);
  EXPECT_NE(Ini().find("[COM]\r\nCOMPORT=6\r\nUSBPORT=0\r\n"), std::string::npos) << Ini();
}

}  // namespace
