// The history in the running program: stamped lines, the memo's last 101,
// the log file without surrounding blanks, its trim and backup, a log that
// cannot be written or closed, the echo, the window's double click and its
// editor button.

#include <sstream>

#include "BackgroundStarts.h"
#include "KorvamonTestProgram.h"
#include "platform/Process.h"
#include "platform/WallClock.h"

namespace {

using korva_test::TestFolder;
using monitor::frmHist;

const platform::LocalTime kNow{2026, 12, 8, 14, 5, 9};
const std::string kStamp = "[08.12.2026 14:05:09]";

class HistoryTest : public korva_test::KorvamonTextTest {
 protected:
  HistoryTest() {
    language_.Set(200, "Kept %s bytes on");
    language_.Set(202, "Editor error %s");
    monitor::SetHistoryEcho(&echo_);
  }
  ~HistoryTest() override {
    program::EndProgram();
    monitor::SetHistoryEcho(nullptr);
  }

  // The program with its log file in the test's folder.
  void StartLogging(const std::string& history8k) {
    Given("[CHECK]\r\nLanguage=E\r\nHistoryPath=" + log_ + "\r\nHistory8k=" + history8k + "\r\n");
    Start();
  }
  void Add(const std::string& text) { frmHist->AddHistoryLine(text); }
  std::string Log() const { return TestFolder::Get(log_); }

  platform::ManualWallClock clock_{kNow};
  platform::ScopedService<platform::WallClock> clockGuard_{clock_};
  std::ostringstream echo_;
  const std::string log_ = folder_.File("history.log");
};

TEST_F(HistoryTest, LinesAreStampedEchoedAndTheMemoKeepsTheLast101) {
  StartLogging("0");
  ASSERT_EQ(History(), std::vector<std::string>{kStamp + "\tT208"});
  for (int i = 1; i <= 101; ++i)
    Add("line " + std::to_string(i));
  // The 102nd line took the first one's place.
  ASSERT_EQ(History().size(), 101u);
  EXPECT_EQ(History().front(), kStamp + "\tline 1");
  EXPECT_EQ(History().back(), kStamp + "\tline 101");

  // The echo and the log file keep every line, the log's ended by CR LF.
  std::string echo = kStamp + "\tT208\n", log = kStamp + "\tT208\r\n";
  for (int i = 1; i <= 101; ++i) {
    echo += kStamp + "\tline " + std::to_string(i) + "\n";
    log += kStamp + "\tline " + std::to_string(i) + "\r\n";
  }
  EXPECT_EQ(echo_.str(), echo);
  EXPECT_EQ(Log(), log);

  clock_.Set({2027, 3, 4, 5, 6, 7});
  Add("later");
  EXPECT_EQ(History().back(), "[04.03.2027 05:06:07]\tlater");
}

TEST_F(HistoryTest, SurroundingBlanksStayInTheMemoButNotInTheLogFile) {
  StartLogging("0");
  Add("  on battery  \t ");
  Add("");
  EXPECT_EQ(History()[1], kStamp + "\t  on battery  \t ");
  EXPECT_EQ(History()[2], kStamp + "\t");
  EXPECT_EQ(Log(), kStamp + "\tT208\r\n" + kStamp + "\t  on battery\r\n" + kStamp + "\r\n");
}

TEST_F(HistoryTest, TrimKeepsTheWholeLinesOfTheLast7200BytesBehindAHeader) {
  StartLogging("1");
  // 8001 bytes once the next line is added: 80 lines of 100 bytes, then 1.
  std::string lines;
  for (int i = 0; i < 80; ++i) {
    std::string line = "old " + std::to_string(i) + " ";
    line += std::string(98 - line.size(), 'x') + "\r\n";
    lines += line;
  }
  TestFolder::Put(log_, lines.substr(0, 8001 - 27));
  Add("abc");  // stamp, tab, text, CR LF: 27 bytes
  const std::string before = lines.substr(0, 8001 - 27) + kStamp + "\tabc\r\n";
  ASSERT_EQ(before.size(), 8001u);

  // The kept part starts 7200 bytes before the end, inside a line: copying
  // begins with the next line.
  const size_t cut = before.find('\n', before.size() - 7200) + 1;
  const std::string header = "Kept 7200 bytes on 08.12.2026 14:05\r\n\r\n";
  EXPECT_EQ(Log(), header + before.substr(cut));
  EXPECT_FALSE(std::filesystem::exists(folder_.File("history.BAK")));

  // Below the limit again: the next lines are appended as usual.
  Add("next");
  EXPECT_EQ(Log(), header + before.substr(cut) + kStamp + "\tnext\r\n");
}

TEST_F(HistoryTest, TrimEdges) {
  StartLogging("0");
  // A line that starts exactly 7200 bytes before the end is kept whole.
  std::string log = std::string(800, 'a') + "\n";
  for (int i = 0; i < 72; ++i)
    log += std::string(99, static_cast<char>('0' + i % 10)) + "\n";
  ASSERT_EQ(log.size(), 8001u);
  TestFolder::Put(log_, log.substr(1));
  EXPECT_FALSE(monitor::TrimLogFile(log_, 8000));
  TestFolder::Put(log_, log);
  ASSERT_TRUE(monitor::TrimLogFile(log_, 8000));
  const std::string header = "Kept 7200 bytes on 08.12.2026 14:05\r\n\r\n";
  EXPECT_EQ(Log(), header + log.substr(801));

  // No line feed within the kept part: only the header remains.
  TestFolder::Put(log_, std::string(9000, 'q'));
  ASSERT_TRUE(monitor::TrimLogFile(log_, 8000));
  EXPECT_EQ(Log(), header);

  // A missing file is not trimmed.
  EXPECT_FALSE(monitor::TrimLogFile(folder_.File("absent.log"), 8000));
}

TEST_F(HistoryTest, History8kOffNeverTrims) {
  StartLogging("0");
  TestFolder::Put(log_, std::string(20000, 'x') + "\r\n");
  Add("one more");
  EXPECT_EQ(Log(), std::string(20000, 'x') + "\r\n" + kStamp + "\tone more\r\n");
}

TEST_F(HistoryTest, BackupIsNeverTheLogFileItself) {
  EXPECT_EQ(monitor::LogBackupPath("C:\\korva\\korvamon.log"), "C:\\korva\\korvamon.BAK");
  EXPECT_EQ(monitor::LogBackupPath("/var/log/korva.txt"), "/var/log/korva.BAK");
  EXPECT_EQ(monitor::LogBackupPath("C:\\korva\\history.bak"), "C:\\korva\\history.bak.BAK");
  EXPECT_EQ(monitor::LogBackupPath("x.BaK"), "x.BaK.BAK");
  EXPECT_EQ(monitor::LogBackupPath("LOG"), "LOG.BAK");
  EXPECT_EQ(monitor::LogBackupPath("h"), "h.BAK");

  // A log named like a backup is trimmed to its tail, not lost.
  const std::string log = folder_.File("history.bak");
  std::string lines;
  for (int i = 0; i < 100; ++i)
    lines += "line " + std::to_string(1000 + i) + " " + std::string(88, '-') + "\r\n";
  TestFolder::Put(log, lines);
  ASSERT_TRUE(monitor::TrimLogFile(log, 8000));
  const std::string trimmed = TestFolder::Get(log);
  EXPECT_EQ(trimmed.substr(trimmed.find("\r\n\r\n") + 4), lines.substr(lines.size() - 7200));
  EXPECT_FALSE(std::filesystem::exists(log + ".BAK"));
}

TEST_F(HistoryTest, UnwritableLogFileShowsText521AndLosesNothingElse) {
  StartLogging("1");
  const std::string before = Log();
  TestFolder::MakeReadOnly(log_);
  Add("on battery");
  EXPECT_EQ(main().StatBar->Panels()[0].Text(), "T521");
  EXPECT_EQ(History().back(), kStamp + "\ton battery");
  EXPECT_EQ(echo_.str().substr(echo_.str().rfind(kStamp)), kStamp + "\ton battery\n");
  EXPECT_EQ(Log(), before);

  // Too large as well: the backup is written beside it, the log stays as it is.
  platform::files().SetAttributes(log_, platform::kFileAttributeArchive);
  TestFolder::Put(log_, std::string(8100, 'x') + "\r\n");
  TestFolder::MakeReadOnly(log_);
  Add("again");
  EXPECT_EQ(Log(), std::string(8100, 'x') + "\r\n");
  EXPECT_TRUE(std::filesystem::exists(folder_.File("history.BAK")));

  // A folder that does not exist.
  Given("[CHECK]\r\nLanguage=E\r\nHistoryPath=" + folder_.File("gone/h.log") + "\r\n");
  main().StatBar->Panels()[0].SetText("");
  Add("nowhere");
  EXPECT_EQ(main().StatBar->Panels()[0].Text(), "T521");
  EXPECT_EQ(History().back(), kStamp + "\tnowhere");
}

// A log file whose append reports a given fate.
class AppendFails final : public korva_test::ForwardingFiles {
 public:
  explicit AppendFails(platform::Appended result) : result_(result) {}
  platform::Appended AppendAll(const std::string&, const std::string&) override { return result_; }

 private:
  platform::Appended result_;
};

TEST_F(HistoryTest, ALogFileThatCannotBeClosedAddsText522ToTheStatusBar) {
  StartLogging("0");
  struct Case {
    platform::Appended appended;
    std::string panel;
  };
  for (const Case& c : {Case{{true, false}, "before"}, Case{{true, true}, "beforeT522"},
                        Case{{false, false}, "T521"}, Case{{false, true}, "T521T522"}}) {
    AppendFails files(c.appended);
    platform::ScopedService<platform::Files> guard(files);
    main().StatBar->Panels()[0].SetText("before");
    Add("on battery");
    EXPECT_EQ(main().StatBar->Panels()[0].Text(), c.panel);
    EXPECT_EQ(History().back(), kStamp + "\ton battery");
  }
}

TEST_F(HistoryTest, TheWindowClosesWhenLeftAndItsButtonOpensTheLogInTheEditor) {
  StartLogging("0");
  // It closes when it loses the focus.
  frmHist->Show();
  ASSERT_TRUE(frmHist->Showing());
  frmHist->Deactivate();
  EXPECT_FALSE(frmHist->Showing());
  // A double click on the lines clears them; the log file keeps them.
  frmHist->MemoMsg->DblClick();
  EXPECT_TRUE(History().empty());
  EXPECT_EQ(Log(), kStamp + "\tT208\r\n");

  platform::RecordingProcesses processes;
  platform::ScopedService<platform::Processes> guard(processes);
  const auto started = [&processes] {
    EXPECT_TRUE(korva_test::FinishProgramStarts());
    EXPECT_EQ(processes.requests().size(), 1u);
    const platform::RecordingProcesses::Request request = processes.requests().back();
    processes.Clear();
    return request.verb + "|" + request.file + "|" + request.parameters + "|" + request.directory;
  };
#ifdef _WIN32
  frmHist->btnLogFile->Click();
  // Quoted: a path with blanks ("Program Files") is one parameter.
  EXPECT_EQ(started(), "|notepad.exe|\"" + log_ + "\"|" + platform::SystemDirectory());
#else
  // The editor a Linux user has chosen, with the log file as one parameter.
  const std::string editor = folder_.File("my editor");
  TestFolder::Put(editor, "");
  std::filesystem::permissions(editor, std::filesystem::perms::owner_all);
  struct Case {
    std::optional<std::string> visual;
    std::optional<std::string> editor;
    std::string expected;
  };
  const Case cases[] = {
      // A name without a folder is found on PATH; the editor's own options stay.
      {"\"my editor\" -w", "vi", editor + "|\"-w\" "},
      {"", "\"" + editor + "\"", editor + "|"},
      {std::nullopt, std::nullopt, "xdg-open|"},
  };
  for (const Case& c : cases) {
    korva_test::ScopedVariable visual("VISUAL", c.visual);
    korva_test::ScopedVariable editorVariable("EDITOR", c.editor);
    korva_test::ScopedVariable path("PATH", folder_.path().string());
    frmHist->btnLogFile->Click();
    EXPECT_EQ(started(), "|" + c.expected + "\"" + log_ + "\"|");
  }
#endif
  EXPECT_TRUE(boxes_.shown().empty());

  processes.SetResult(2);
  frmHist->btnLogFile->Click();
  ASSERT_TRUE(korva_test::FinishProgramStarts());
  ASSERT_EQ(boxes_.shown().size(), 1u);
  EXPECT_EQ(boxes_.shown()[0].text, "Editor error 2");
  EXPECT_EQ(boxes_.shown()[0].flags, platform::kMbOk | platform::kMbIconError);
}

}  // namespace
