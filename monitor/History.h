// Unit History: the history window and the log file. Every event of the
// monitor becomes one history line: stamped with the local date and time,
// shown in the window's memo (the last 101 lines), appended to the log file
// (kept near 8000 bytes when the settings ask for it) and handed to the UDP
// trace listeners. On POSIX each line is also written to standard output, so
// korvamon run in a terminal shows its history there.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "platform/Files.h"
#include "platform/WallClock.h"
#include "vcl/Forms.h"
#include "vcl/Memo.h"
#include "vcl/StdCtrls.h"

namespace monitor {

// The memo holds at most this many lines; the oldest go first.
inline constexpr int kHistoryMemoLines = 101;
// The log file's size limit when [CHECK] History8k is "1".
inline constexpr uint64_t kLogTrimLimit = 8000;

// "[DD.MM.YYYY HH:NN:SS]", each part two digits, the year four.
std::string HistoryStamp(const platform::LocalTime& time);

// The first line of the history: text 204 and the serial port's number when
// one is set (not 0), else text 208.
std::string HistoryStartText(int32_t serialPort);

// The log file: [CHECK] HistoryPath, or the program's folder followed by
// "korva_usv.log" when that is empty.
std::string LogFilePath();

// The copy a trim writes before it takes the log file's place: the path with
// its last three characters replaced by "BAK". A path that ends in "BAK"
// already (in any case) or has three characters or fewer gets ".BAK"
// appended instead, so the copy is never the log file itself.
std::string LogBackupPath(const std::string& logPath);

// Appends `line` without its surrounding blanks and control characters, and
// a line end, to the log file at `path`. Not written when the file cannot be
// opened or written; nothing else is lost then.
platform::Appended AppendLogLine(const std::string& path, const std::string& line);

// When the file at `path` is larger than `limit` bytes: writes the backup
// (LogBackupPath) with a header line (text 200 with the kept size, then the
// date and time) and the whole lines of the file's last limit - limit / 10
// bytes, and renames it to the log file's name unless that cannot be
// replaced (the backup then stays and the log file is untouched). Only the
// kept tail is read. True when the log file was shortened.
bool TrimLogFile(const std::string& path, uint64_t limit);

// Where history lines are echoed: standard output on POSIX, nowhere on
// Windows. Null silences the echo. Returns the echo it replaces.
std::ostream* SetHistoryEcho(std::ostream* echo);

class TfrmHist : public vcl::TForm {
 public:
  explicit TfrmHist(vcl::TComponent* owner);
  ~TfrmHist() override;

  vcl::TMemo* MemoMsg;
  vcl::TButton* btnClose;
  vcl::TButton* btnLogFile;

  void FormCreate(vcl::TObject* sender);
  // Clears the memo.
  void MemoMsgDblClick(vcl::TObject* sender);
  // Also the window's deactivation: the window closes when it loses the focus.
  void btnCloseClick(vcl::TObject* sender);
  // Opens the log file in the system's text editor; a start that fails shows
  // an error box with text 202 and the shell's number.
  void btnLogFileClick(vcl::TObject* sender);

  // The whole way of one line: stamp, memo, log file (and its trim), UDP
  // trace listeners, echo. A log file that cannot be written shows text 521
  // in the main window's status bar, one that cannot be closed after the
  // write adds text 522 to it; the line still goes everywhere else.
  // Main thread only.
  void AddHistoryLine(const std::string& text);
};

// The history window while it exists.
extern TfrmHist* frmHist;

}  // namespace monitor
