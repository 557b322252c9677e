// The line log of unit PsClasses.
#include <exception>

#include "platform/Files.h"
#include "platform/Services.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsClasses.h"
#include "toolkit/PsUtils.h"
#include "toolkit/psRTTI.h"

namespace toolkit {
namespace {

// Characters that make a file name more than a bare name.
#ifdef _WIN32
constexpr const char* kFolderCharacters = "\\:";
#else
constexpr const char* kFolderCharacters = "\\:/";
#endif

}  // namespace

// ---- TPsLogBuffer ----------------------------------------------------------------

const TPsClassMeta& TPsLogBuffer::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsLogBuffer>("TPsLogBuffer", nullptr).Event("OnNewLine").Build();
  return meta;
}

void TPsLogBuffer::AddNewLine(const std::string& line) {
  while (maxLines_ > 0 && lines_.Count() >= maxLines_)
    lines_.Delete(0);
  lines_.Add(line);
  if (OnNewLine)
    OnNewLine(this, line);
}

void TPsLogBuffer::SetCapacity(int maxLines) {
  while (maxLines > 0 && lines_.Count() > maxLines)
    lines_.Delete(0);
  maxLines_ = maxLines;
}

void TPsLogBuffer::SaveToFile(const std::string& fileName) const {
  try {
    platform::files().ReplaceAll(fileName, lines_.Text());
  } catch (const std::exception& error) {
    DebugException(error);
  }
}

void TPsLogBuffer::AssignTo(vcl::TPersistent* dest) const {
  if (auto* strings = dynamic_cast<vcl::TStringList*>(dest))
    strings->Assign(&lines_);
  else
    vcl::TPersistent::AssignTo(dest);
}

// ---- TPsLog ----------------------------------------------------------------------

TPsLog::TPsLog() : buffer_(std::make_unique<TPsLogBuffer>()) {}

const TPsClassMeta& TPsLog::ClassMeta() {
  using T = TPsLog;
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<T>("TPsLog", nullptr)
          .Boolean("Active", &T::Active, &T::Active)
          .String("DateTimeFormat", &T::DateTimeFormat, &T::DateTimeFormat)
          .String("FileName", &T::FileName, &T::SetFileName)
          .Integer("MaxLines", &T::MaxLines, &T::SetMaxLines)
          .Event("OnChange")
          .Build();
  return meta;
}

std::string TPsLog::AddLine(const std::string& message) {
  if (!Active)
    return std::string();
  DebugScope scope("TPsLog.AddLine", this);
  const std::string line =
      vcl::Format("%s %s", vcl::FormatDateTime(DateTimeFormat, UTCToLocalTime(NowUTC())), message);
  buffer_->AddNewLine(line);
  if (!fileName_.empty())
    buffer_->SaveToFile(fileName_);
  if (OnChange)
    OnChange(this, line);
  return line;
}

void TPsLog::SetFileName(const std::string& fileName) {
  if (fileName == fileName_)
    return;
  if (!fileName.empty() && fileName.find_first_of(kFolderCharacters) == std::string::npos)
    fileName_ = platform::ProgramFolder() + fileName;
  else
    fileName_ = fileName;
}

void TPsLog::Assign(const vcl::TPersistent* source) {
  if (const auto* log = dynamic_cast<const TPsLog*>(source)) {
    SetFileName(log->FileName());
    SetMaxLines(log->MaxLines());
    Active = log->Active;
    return;
  }
  vcl::TPersistent::Assign(source);
}

void TPsLog::AssignTo(vcl::TPersistent* dest) const {
  if (auto* strings = dynamic_cast<vcl::TStringList*>(dest))
    strings->Assign(buffer_.get());
  else
    vcl::TPersistent::AssignTo(dest);
}

void RegisterLogClasses() {
  RegisterClass(TPsLog::ClassMeta());
  RegisterClass(TPsLogBuffer::ClassMeta());
}

}  // namespace toolkit
