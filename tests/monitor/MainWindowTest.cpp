// korvamon's start and main window, in-process: windows and start values,
// what the settings steer, starts that cannot write, tray icon, hot key,
// buttons, menu, the ways the program ends, and a second instance's question.

#include "KorvamonTestProgram.h"
#include "monitor/Info.h"
#include "monitor/config.h"
#include "monitor/lang.h"
#include "platform/Files.h"
#include "platform/NamedMutex.h"
#include "platform/Services.h"

namespace {

using korva_test::KorvamonTest;
using korva_test::TestFolder;
using monitor::GetLangString;
using monitor::WM_TRAYICON;

const std::string kProgramEnd = "KORVA DI-ZOD monitor ended";

using MainWindowTest = KorvamonTest;

TEST_F(MainWindowTest, StartsItsSevenWindowsInOrderWithTheStartValues) {
  Given("[CHECK]\r\nLanguage=f\r\n");
  Start();
  vcl::TApplication& application = vcl::Application();
  std::vector<std::string> created;
  for (int i = 0; i < application.ComponentCount(); ++i)
    created.push_back(application.Components(i)->ClassName());
  EXPECT_EQ(created, (std::vector<std::string>{"TfrmKorvamon", "TfrmConfig", "TfrmHist", "TfrmInfo",
                                               "TdmUDP", "TfrmDeviceList", "TOPCProvider"}));
  EXPECT_EQ(application.MainForm(), &main());

  // The first showing ran: language, texts, history path, watchdog.
  EXPECT_TRUE(main().Showing());
  EXPECT_EQ(main().LanguageCode, 3);
  EXPECT_EQ(main().mnuBeenden->Caption, GetLangString(21));
  EXPECT_NE(Ini().find("HistoryPath=" + main().AppDir + "korvamon.log"), std::string::npos);
  EXPECT_TRUE(main().TimerConnection->Running());
  EXPECT_FALSE(main().TimerOpen->Running() || main().MessTimer->Running());

  EXPECT_EQ(main().StatusWord, 0x1111);
  EXPECT_EQ(main().ConnectionWord, 0x0888);
  EXPECT_TRUE(main().Has28CharFrames && !main().Has42CharFrames && main().StartPhase);
  EXPECT_TRUE(main().edRead->Text().empty());
  EXPECT_EQ(main().Height(), monitor::kHeightCollapsed);
  EXPECT_TRUE(monitor::ShutdownSignalEnabled);
  const char last = main().AppDir.empty() ? '\0' : main().AppDir.back();
  EXPECT_TRUE(last == '/' || last == '\\') << main().AppDir;
#ifndef _WIN32
  EXPECT_EQ(main().WindowsVersion, 1);
#endif
  ASSERT_EQ(headless().trayIcons.size(), 1u);
  const vcl::HeadlessBackend::TrayIcon& icon = headless().trayIcons[0];
  EXPECT_EQ(icon.formClass + " " + std::to_string(icon.id) + " " +
                std::to_string(icon.callbackMessage) + " " + icon.tip,
            "TfrmKorvamon 1 33792 DI-ZOD");
  EXPECT_TRUE(boxes_.shown().empty());

  // The end takes the icon and the hot key away again.
  program::EndProgram();
  EXPECT_TRUE(headless().trayIcons.empty());
  EXPECT_TRUE(headless().hotKeys.empty());
}

TEST_F(MainWindowTest, SettingsSteerHotKeyStartDelayAndShutdownSignal) {
  struct HotKeyCase {
    const char* value;
    uint16_t key;  // 0: none
  };
  for (const HotKeyCase& hotKey : {HotKeyCase{"", 'O'}, {"2", 'M'}, {"3", 0}, {"abc", 'O'}}) {
    SCOPED_TRACE(std::string("SelectHotKey=") + hotKey.value);
    Given(std::string("[CHECK]\r\nLanguage=E\r\nSelectHotKey=") + hotKey.value + "\r\n");
    Restart();
    if (hotKey.key == 0) {
      EXPECT_TRUE(headless().hotKeys.empty());
    } else {
      ASSERT_EQ(headless().hotKeys.size(), 1u);
      EXPECT_EQ(headless().hotKeys[0].id, 0xB000);
      EXPECT_EQ(headless().hotKeys[0].modifiers, vcl::MOD_ALT);
      EXPECT_EQ(headless().hotKeys[0].virtualKey, hotKey.key);
    }
  }

  struct DelayCase {
    const char* value;
    uint64_t ms;
  };
  for (const DelayCase& delay : {DelayCase{"-5", 60000}, {"61", 60000}, {"7", 7000}, {"abc", 0}}) {
    SCOPED_TRACE(std::string("WAIT_TIME=") + delay.value);
    Given(std::string("[CHECK]\r\nLanguage=E\r\n[COM]\r\nWAIT_TIME=") + delay.value + "\r\n");
    program::EndProgram();
    const uint64_t before = loop().NowMs();
    Start();
    EXPECT_EQ(loop().NowMs() - before, delay.ms);
  }

  Given(
      "[CHECK]\r\nLanguage=E\r\nDC_LOW_ShutDown=1\r\nHistory8k=1\r\n[ACTION]\r\nShutdownSignal="
      "0\r\n");
  Restart();
  EXPECT_FALSE(monitor::ShutdownSignalEnabled);
  EXPECT_TRUE(main().LogLimit8k);
}

TEST_F(MainWindowTest, KeysOfOlderVersionsMoveOnceAtTheStart) {
  Given(
      "[CHECK]\r\nLanguage=E\r\nHistoryPath=/var/log/korva.log\r\n"
      "[ACTION]\r\nOpenWindow=1\r\nOpenMinutes=2\r\nOpenSeconds=30\r\n");
  Start();
  EXPECT_EQ(Ini().find("OpenMinutes"), std::string::npos);
  EXPECT_NE(Ini().find("OpenMin_Full=2\r\nOpenSec_Batt=30\r\n"), std::string::npos) << Ini();

  // Once moved, a hand-made change of a new key survives the next start.
  monitor::WriteIniString("ACTION", "OpenMin_Batt", "7");
  const std::string edited = Ini();
  Restart();
  EXPECT_EQ(Ini(), edited);
}

TEST_F(MainWindowTest, AStartThatCannotWriteItsSettingsSaysSoAndGoesOn) {
  // No language yet, an old key to move, no history path: three writes, all refused.
  Given("[ACTION]\r\nOpenWindow=1\r\n");
  TestFolder::MakeReadOnly(path_);
#ifndef _WIN32
  korva_test::ScopedVariable locale("LC_ALL", "de_DE.UTF-8");
#endif
  Start();
  EXPECT_EQ(Ini(), "[ACTION]\r\nOpenWindow=1\r\n");
  const std::vector<std::string> texts = BoxTexts();
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_NE(texts[0].find("OpenMin_Batt"), std::string::npos) << texts[0];
  EXPECT_NE(texts[1].find("Language"), std::string::npos) << texts[1];
  EXPECT_NE(texts[2].find("HistoryPath"), std::string::npos) << texts[2];
  for (const auto& box : boxes_.shown())
    EXPECT_EQ(box.flags, platform::kMbOk | platform::kMbIconError);

    // The language chosen (in the dialog, or on POSIX from the locale) holds for
    // this run; the start went on to the end.
#ifdef _WIN32
  EXPECT_EQ(headless().modalForms, (std::vector<std::string>{"TfrmLanguage"}));
#endif
  EXPECT_EQ(main().LanguageCode, 1);
  EXPECT_EQ(main().btnKonfig->Caption(), GetLangString(1));
  EXPECT_TRUE(main().TimerConnection->Running());
  EXPECT_EQ(vcl::Application().ComponentCount(), 7);
}

TEST_F(MainWindowTest, ASerialPortThatDoesNotExistIsReportedAndTheWatchdogStarts) {
  Given("[CHECK]\r\nLanguage=E\r\n[COM]\r\nCOMPORT=9\r\n");
  Start();
  const std::string report = GetLangString(53) + "9" + GetLangString(54);
  EXPECT_EQ(main().StatBar->Panels()[0].Text(), report);
  EXPECT_TRUE(main().TimerConnection->Running());
  EXPECT_TRUE(boxes_.shown().empty());
  // The history window did not exist yet: its line was dropped.
  EXPECT_EQ(HistoryTexts(), std::vector<std::string>{GetLangString(208)});

  // A port that is not there; no port number names "COM0".
  for (const auto& [port, name] :
       {std::pair{"4", "COM4"}, {"0", "COM0"}, {"-3", "COM0"}, {"abc", "COM0"}}) {
    SCOPED_TRACE(port);
    StartWith("", port);
    EXPECT_EQ(main().StatBar->Panels()[0].Text(),
              GetLangString(56) + name + GetLangString(58) + " Handle=$FFFFFFFF");
    EXPECT_TRUE(main().TimerConnection->Running());
  }
}

TEST_F(MainWindowTest, UsbWithoutItsLibraryIsReportedAtTheStart) {
  Given("[CHECK]\r\nLanguage=E\r\n[COM]\r\nUSBport=1\r\n");
  Start();
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text,
            "Cannot open the USB-library ftd2xx.dll\r\n\r\nPlease connect KORVA USV or reinstall "
            "driver.\r\n\r\nFinally restart application.");
  EXPECT_EQ(boxes_.shown()[0].flags, platform::kMbOk | platform::kMbIconError);
  // The link is USB all the same: the watchdog goes on trying it.
  EXPECT_TRUE(main().UsbMode);
  EXPECT_TRUE(main().TimerConnection->Running());

#ifndef _WIN32
  // One for another processor (a 32-bit library beside a 64-bit program) says so.
  const std::string other = folder_.File("other-processor.so");
  korva_test::PutOtherProcessorLibrary(other);
  setenv("KORVA_FTD2XX", other.c_str(), 1);
  boxes_.Clear();
  Restart();
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text.rfind("The USB-library ftd2xx.dll that was found is built for "
                                         "another processor than korvamon",
                                         0),
            0u)
      << boxes_.shown()[0].text;
#endif
}

TEST_F(MainWindowTest, TrayIconHotKeyAndSerialMessagesReachTheirHandlers) {
  StartWith();
  const vcl::TWindowHandle window = main().Handle();

  main().Hide();
  vcl::PostMessage(window, WM_TRAYICON, 1, vcl::WM_LBUTTONDOWN);
  vcl::PostMessage(window, WM_TRAYICON, 1, vcl::WM_RBUTTONUP);
  loop().ProcessMessages();
  EXPECT_FALSE(main().Visible());
  vcl::PostMessage(window, WM_TRAYICON, 1, vcl::WM_LBUTTONDBLCLK);
  loop().ProcessMessages();
  EXPECT_TRUE(main().Showing());
  EXPECT_EQ(headless().broughtToFront.back(), "TfrmKorvamon");

  headless().cursorPos = {900, 700};
  vcl::SendMessage(window, WM_TRAYICON, 1, vcl::WM_RBUTTONDOWN);
  EXPECT_EQ(main().PopupMenu->PopupPoint(), (vcl::TPoint{900, 700}));
  main().WindowsVersion = 2;
  vcl::SendMessage(window, WM_TRAYICON, 1, vcl::WM_RBUTTONDOWN);
  EXPECT_EQ(main().PopupMenu->PopupPoint(), (vcl::TPoint{885, 560}));
  EXPECT_EQ(main().PopupMenu->PopupCount(), 2);

  main().Hide();
  vcl::SendMessage(window, vcl::WM_HOTKEY, 0xB001, 0);
  EXPECT_FALSE(main().Visible());
  vcl::SendMessage(window, vcl::WM_HOTKEY, 0xB000, 0);
  EXPECT_TRUE(main().Showing());

  for (uintptr_t event : {2u, 128u, 1u, 0x400u})
    EXPECT_EQ(vcl::SendMessage(window, monitor::WM_COMMEVENT, event, 0),
              static_cast<intptr_t>(event));

  // A later instance's request acts as the double click does.
  main().Hide();
  program::DeliverInstanceRequest("TfrmElse", WM_TRAYICON, 0x100, vcl::WM_LBUTTONDBLCLK);
  EXPECT_FALSE(main().Visible());
  program::DeliverInstanceRequest("TfrmKorvamon", WM_TRAYICON, 0x100, vcl::WM_LBUTTONDBLCLK);
  EXPECT_TRUE(main().Showing());
}

TEST_F(MainWindowTest, ButtonsAndMenuCommands) {
  StartWith();

  main().mnuProtokoll->Click();
  EXPECT_TRUE(monitor::frmHist->Showing());
  main().mnuInfo->Click();
  auto* info = dynamic_cast<monitor::TfrmInfo*>(vcl::Application().Components(3));
  ASSERT_NE(info, nullptr);
  EXPECT_TRUE(info->Showing());
  main().mnuCaption->Click();
  EXPECT_EQ(headless().modalForms.back(), "TfrmHeader");

  // The received-text line: by the button and by the key of its caption's letter.
  main().btnUpDown->Click();
  EXPECT_EQ(main().Height(), monitor::kHeightExpanded);
  main().edRead->KeyDown('D');
  EXPECT_FALSE(main().btnUpDown->Down());
  EXPECT_EQ(main().Height(), monitor::kHeightCollapsed);
  main().edRead->KeyDown('X');
  EXPECT_EQ(main().Height(), monitor::kHeightCollapsed);
  main().btnUpDown->SetCaption("D");
  main().edRead->KeyDown('D');
  EXPECT_EQ(main().Height(), monitor::kHeightCollapsed);

  main().btnHide->Click();
  EXPECT_FALSE(main().Visible());
  EXPECT_FALSE(vcl::Application().Terminated());
  main().mnuShow->Click();
  EXPECT_TRUE(main().Showing());
}

TEST_F(MainWindowTest, SettingsCommandWriteProtectsTheFileWhenTheDialogAsks) {
  StartWith();
  vcl::ScopedModalAnswer saveProtected([](vcl::TForm& form) {
    monitor::frmConfig->WriteProtectRequested = true;
    form.SetModalResult(vcl::mrOk);
  });
  main().mnuKonfig->Click();
  EXPECT_EQ(headless().modalForms.back(), "TfrmConfig");
  EXPECT_TRUE(platform::files().GetAttributes(path_) & platform::kFileAttributeReadOnly);
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{GetLangString(108)});

  // A file that cannot be protected (it is gone) is named in the error.
  platform::files().SetAttributes(path_, platform::kFileAttributeArchive);
  std::filesystem::remove(path_);
  main().btnKonfig->Click();
  ASSERT_EQ(boxes_.shown().size(), 2u);
  EXPECT_EQ(boxes_.shown()[1].text, monitor::FormatLangString(106, monitor::SettingsFilePath()));
  EXPECT_EQ(boxes_.shown()[1].flags, platform::kMbOk | platform::kMbIconError);
}

TEST_F(MainWindowTest, TheTrayIconIsTriedAgainUntilTheShellTakesItAndComesBackWithANewTaskBar) {
  // Logon: no task bar yet.
  headless().trayShell = false;
  StartWith();
  EXPECT_TRUE(headless().trayIcons.empty());
  Advance(1000);
  EXPECT_EQ(headless().trayIconAdds, 2);
  headless().trayShell = true;
  Advance(1000);
  ASSERT_EQ(headless().trayIcons.size(), 1u);
  EXPECT_EQ(headless().trayIcons[0].tip, "DI-ZOD");
  Advance(5000);
  EXPECT_EQ(headless().trayIconAdds, 3);  // once shown, it is left alone

  // The shell restarts and has lost its icons: its new task bar brings it back.
  headless().trayIcons.clear();
  vcl::SendMessage(main().Handle(), vcl::HeadlessBackend::kTaskbarCreated, 0, 0);
  EXPECT_EQ(headless().trayIcons.size(), 1u);
}

TEST_F(MainWindowTest, EndingWritesTheLastHistoryLinesOnEveryClosePath) {
  Given("[CHECK]\r\nLanguage=E\r\n");

  Start();
  const std::vector<std::string> lastLines = {GetLangString(208), kProgramEnd, std::string(76, '*'),
                                              ""};
  headless().keysDown.insert(vcl::VK_CONTROL);
  main().btnHide->Click();
  EXPECT_TRUE(vcl::Application().Terminated());
  EXPECT_EQ(HistoryTexts(), lastLines);
  EXPECT_FALSE(main().TimerConnection->Running());
  headless().keysDown.clear();

  // The menu, the system's request to end, the window's close message, and
  // the end of the session (the lines are written before it returns).
  for (int path = 0; path < 4; ++path) {
    SCOPED_TRACE(path);
    program::EndProgram();
    vcl::ScopedApplication nextRun;
    loop().ResetTerminated();
    Start();
    if (path == 0)
      main().mnuBeenden->Click();
    if (path == 1)
      program::CloseOnRequest();
    if (path == 2)
      vcl::PostMessage(main().Handle(), vcl::WM_CLOSE, 0, 0);
    if (path == 3) {
      vcl::SendMessage(main().Handle(), vcl::WM_ENDSESSION, 1, 0);
      EXPECT_EQ(HistoryTexts(), lastLines);
    }
    loop().ProcessMessages();
    EXPECT_TRUE(vcl::Application().Terminated());
    EXPECT_EQ(HistoryTexts(), lastLines);
    program::EndProgram();
  }
}

TEST_F(MainWindowTest, ASecondInstanceAsksInTheConfiguredLanguageAndCreatesNothing) {
  const platform::NamedMutex running = platform::NamedMutex::Create("KORVA-MUTEX");
  ASSERT_FALSE(running.alreadyExisted());
  struct Case {
    const char* language;
    const char* expected;
  };
  const std::string english =
      "An instance of KORVA-DI-ZOD already is running !\r\nThe application cannot be started "
      "repeatedly.\r\n\r\nShow running instance ?";
  for (const Case& question : {Case{"f", "Une instance de KORVA-DI-ZOD est d"},
                               {"G", "Eine Instanz von KORVA-DI-ZOD l"},
                               {"english", english.c_str()},
                               {"I", english.c_str()},
                               {"fr", english.c_str()},
                               {"", english.c_str()}}) {
    SCOPED_TRACE(question.language);
    Given(std::string("[CHECK]\r\nLanguage=") + question.language + "\r\n");
    const std::string before = Ini();
    boxes_.Clear();
    boxes_.QueueAnswer(platform::kIdNo);
    EXPECT_FALSE(monitor::PassSingleInstanceGuard());
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text.rfind(question.expected, 0), 0u) << boxes_.shown()[0].text;
    EXPECT_EQ(boxes_.shown()[0].flags, platform::kMbYesNo | platform::kMbIconWarning);
    EXPECT_EQ(Ini(), before);
    EXPECT_EQ(vcl::Application().ComponentCount(), 0);
  }
  // One started by COM asks nobody.
  boxes_.Clear();
  EXPECT_FALSE(monitor::PassSingleInstanceGuard(monitor::SecondInstance::EndAtOnce));
  EXPECT_TRUE(boxes_.shown().empty());
  EXPECT_EQ(vcl::Application().ComponentCount(), 0);
  EXPECT_TRUE(sound_.messageBeeps().empty());
}

TEST(WindowsVersionTest, FamilyCodes) {
  using platform::kPlatformNt;
  using platform::kPlatformWin9x;
  struct Case {
    platform::OsVersion version;
    uint8_t code;
  };
  for (const Case& c : {Case{{kPlatformNt, 6, 3}, 1},
                        {{kPlatformNt, 5, 1}, 2},
                        {{kPlatformNt, 5, 0}, 3},
                        {{kPlatformNt, 4, 0}, 4},
                        {{kPlatformNt, 10, 0}, 0},
                        {{kPlatformWin9x, 4, 10}, 5},
                        {{kPlatformWin9x, 4, 0}, 6},
                        {{kPlatformWin9x, 4, 90}, 7},
                        {{0, 6, 1}, 0}}) {
    EXPECT_EQ(monitor::WindowsVersionCode(c.version), c.code)
        << c.version.platformId << " " << c.version.major << "." << c.version.minor;
  }
}

}  // namespace
