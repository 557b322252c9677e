#include "monitor/History.h"

#include <cstddef>
#include <cstdio>
#include <iterator>
#include <ostream>
#include <vector>

#include "monitor/ProgramStart.h"
#include "monitor/Settings.h"
#include "monitor/UDPInterface.h"
#include "monitor/lang.h"
#include "monitor/main.h"
#include "platform/Files.h"
#include "platform/MessageBoxes.h"
#include "platform/Process.h"
#include "platform/Services.h"
#include "platform/System.h"

namespace monitor {

TfrmHist* frmHist = nullptr;

namespace {

constexpr uint32_t kTextCaption = 19;
constexpr uint32_t kTextClose = 4;
constexpr uint32_t kTextTrimHeader = 200;
constexpr uint32_t kTextEditorFailed = 202;
constexpr uint32_t kTextStartedOnPort = 204;
constexpr uint32_t kTextLogFileHint = 206;
constexpr uint32_t kTextStarted = 208;
constexpr uint32_t kTextLogNotWritten = 521;
constexpr uint32_t kTextLogNotClosed = 522;

std::ostream*& Echo() {
  static std::ostream* echo = platform::DefaultEcho();
  return echo;
}

// "DD.MM.YYYY", then " HH:NN" and ":SS" as asked for.
std::string DateTime(const platform::LocalTime& time, bool withTime, bool withSeconds) {
  char text[64];
  int n = std::snprintf(text, sizeof text, "%02d.%02d.%04d", time.day, time.month, time.year);
  if (withTime && n > 0 && static_cast<size_t>(n) < sizeof text)
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), " %02d:%02d", time.hour,
                       time.minute);
  if (withSeconds && n > 0 && static_cast<size_t>(n) < sizeof text)
    std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ":%02d", time.second);
  return text;
}

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlankOrControl(text[begin]))
    ++begin;
  while (end > begin && IsBlankOrControl(text[end - 1]))
    --end;
  return text.substr(begin, end - begin);
}

bool EndsWithBakInAnyCase(const std::string& path) {
  if (path.size() < 3)
    return false;
  const std::string last = path.substr(path.size() - 3);
  return (last[0] == 'B' || last[0] == 'b') && (last[1] == 'A' || last[1] == 'a') &&
         (last[2] == 'K' || last[2] == 'k');
}

vcl::TStatusPanel* FirstStatusPanel() {
  if (!frmKorvamon || !frmKorvamon->StatBar || frmKorvamon->StatBar->Panels().Count() == 0)
    return nullptr;
  return &frmKorvamon->StatBar->Panels()[0];
}

}  // namespace

std::string HistoryStamp(const platform::LocalTime& time) {
  std::string stamp = "[";
  stamp += DateTime(time, true, true);
  stamp += ']';
  return stamp;
}

std::string HistoryStartText(int32_t serialPort) {
  if (serialPort != 0)
    return GetLangString(kTextStartedOnPort) + std::to_string(serialPort);
  return GetLangString(kTextStarted);
}

std::string LogFilePath() {
  return Settings::Current().LogFilePath(platform::ProgramFolder());
}

std::string LogBackupPath(const std::string& logPath) {
  if (logPath.size() <= 3 || EndsWithBakInAnyCase(logPath))
    return logPath + ".BAK";
  return logPath.substr(0, logPath.size() - 3) + "BAK";
}

platform::Appended AppendLogLine(const std::string& path, const std::string& line) {
  return platform::files().AppendAll(path, Trimmed(line) + "\r\n");
}

bool TrimLogFile(const std::string& path, uint64_t limit) {
  platform::Files& files = platform::files();
  const std::optional<uint64_t> size = files.FileSize(path);
  if (!size || *size <= limit)
    return false;
  const uint64_t keep = limit - limit / 10;
  // One byte before the kept part tells whether that part begins a line.
  const std::optional<std::string> tail =
      files.ReadRange(path, *size - keep - 1, static_cast<size_t>(keep + 1));
  if (!tail)
    return false;
  size_t from = tail->size();
  if (!tail->empty() && (*tail)[0] == '\n') {
    from = 1;
  } else if (const size_t lineFeed = tail->find('\n', 1); lineFeed != std::string::npos) {
    from = lineFeed + 1;
  }

  const platform::LocalTime now = platform::wallClock().Now();
  std::string header = FormatLangString(kTextTrimHeader, std::to_string(keep));
  header += ' ';
  header += DateTime(now, true, false);
  header += "\r\n\r\n";
  const std::string backup = LogBackupPath(path);
  if (!files.ReplaceAll(backup, header + tail->substr(from)))
    return false;
  return files.RenameReplacing(backup, path);
}

std::ostream* SetHistoryEcho(std::ostream* echo) {
  std::ostream* previous = Echo();
  Echo() = echo;
  return previous;
}

TfrmHist::TfrmHist(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmHist") {
  SetName("frmHist");
  BorderStyle = vcl::bsDialog;
  Position = vcl::poScreenCenter;
  SetClientWidth(560);
  SetClientHeight(352);

  MemoMsg = new vcl::TMemo(this);
  MemoMsg->SetName("MemoMsg");
  MemoMsg->SetParent(this);
  MemoMsg->SetBounds(8, 8, 544, 302);
  MemoMsg->SetReadOnly(true);
  MemoMsg->VerticalScrollBar = true;

  btnLogFile = new vcl::TButton(this);
  btnLogFile->SetName("btnLogFile");
  btnLogFile->SetParent(this);
  btnLogFile->SetBounds(8, 318, 75, 25);
  btnLogFile->SetCaption("*.log");
  btnLogFile->SetShowHint(true);

  btnClose = new vcl::TButton(this);
  btnClose->SetName("btnClose");
  btnClose->SetParent(this);
  btnClose->SetBounds(477, 318, 75, 25);
  btnClose->SetCaption("&Close");
  btnClose->Cancel = true;
  btnClose->ModalResult = vcl::mrOk;

  OnCreate = [this](vcl::TObject* sender) { FormCreate(sender); };
  OnDeactivate = [this](vcl::TObject* sender) { btnCloseClick(sender); };
  btnClose->OnClick = [this](vcl::TObject* sender) { btnCloseClick(sender); };
  btnLogFile->OnClick = [this](vcl::TObject* sender) { btnLogFileClick(sender); };
  MemoMsg->OnDblClick = [this](vcl::TObject* sender) { MemoMsgDblClick(sender); };
}

TfrmHist::~TfrmHist() {
  if (frmHist == this)
    frmHist = nullptr;
}

void TfrmHist::FormCreate(vcl::TObject* /*sender*/) {
  MemoMsg->ClearLines();
  SetCaption(GetLangString(kTextCaption));
  btnClose->SetCaption(GetLangString(kTextClose));
  btnLogFile->SetHint(GetLangString(kTextLogFileHint));
  const bool serial = frmKorvamon && frmKorvamon->SComm;
  AddHistoryLine(HistoryStartText(serial ? frmKorvamon->SComm->COMPort() : 0));
}

void TfrmHist::MemoMsgDblClick(vcl::TObject* /*sender*/) {
  MemoMsg->ClearLines();
}

void TfrmHist::btnCloseClick(vcl::TObject* /*sender*/) {
  Close();
}

void TfrmHist::btnLogFileClick(vcl::TObject* /*sender*/) {
  const std::string title = vcl::Application().Title();
  StartInBackground(platform::TextEditorCall(LogFilePath()), [title](int result) {
    if (result < 33) {
      platform::messageBoxes().Show(FormatLangString(kTextEditorFailed, std::to_string(result)),
                                    title, platform::kMbOk | platform::kMbIconError);
    }
  });
}

void TfrmHist::AddHistoryLine(const std::string& text) {
  const std::string line = HistoryStamp(platform::wallClock().Now()) + "\t" + text;
  // One change of the memo: its oldest lines go while it holds 101 or more.
  constexpr auto kMost = static_cast<std::ptrdiff_t>(kHistoryMemoLines);
  std::vector<std::string> lines = MemoMsg->Lines();
  if (std::ssize(lines) >= kMost)
    lines.erase(lines.begin(), lines.end() - (kMost - 1));
  lines.push_back(line);
  MemoMsg->SetLines(std::move(lines));

  const std::string path = LogFilePath();
  const platform::Appended appended = AppendLogLine(path, line);
  if (vcl::TStatusPanel* panel = FirstStatusPanel()) {
    if (!appended.written)
      panel->SetText(GetLangString(kTextLogNotWritten));
    if (appended.closeFailed)
      panel->SetText(panel->Text() + GetLangString(kTextLogNotClosed));
  }
  if (frmKorvamon && frmKorvamon->LogLimit8k)
    TrimLogFile(path, kLogTrimLimit);

  if (dmUDP)
    dmUDP->SendToTracePeers(line);
  if (std::ostream* echo = Echo())
    *echo << line << '\n' << std::flush;
}

}  // namespace monitor
