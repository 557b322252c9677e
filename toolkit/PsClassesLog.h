// Unit PsClasses, the line log: the latest lines of a text log in memory,
// each behind the local date and time, optionally mirrored whole into a file
// after every line. Included by PsClasses.h. One thread at a time: its users
// serialise their calls.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "vcl/Classes.h"

namespace toolkit {

class TPsClassMeta;

using TPsLogEvent = std::function<void(vcl::TObject* sender, const std::string& line)>;

// A bounded list of lines, the oldest first. Publishes OnNewLine.
class TPsLogBuffer : public vcl::TPersistent {
 public:
  std::string ClassName() const override { return "TPsLogBuffer"; }
  static const TPsClassMeta& ClassMeta();

  // Drops the oldest lines to make room (unless MaxLines is 0 or less), adds
  // the line, then OnNewLine.
  void AddNewLine(const std::string& line);
  int GetCount() const { return lines_.Count(); }
  // The most lines kept; 0 or less keeps every line. Default 100.
  int MaxLines() const { return maxLines_; }
  // Drops the oldest lines beyond `maxLines` (when above 0), then keeps it.
  void SetCapacity(int maxLines);
  // Replaces the file with the lines, each ended by CR LF. Any failure is
  // swallowed.
  void SaveToFile(const std::string& fileName) const;

  TPsLogEvent OnNewLine;

 protected:
  // Into a string list: a copy of the lines.
  void AssignTo(vcl::TPersistent* dest) const override;

 private:
  vcl::TStringList lines_;
  int maxLines_ = 100;
};

// Publishes Active, DateTimeFormat, FileName, MaxLines and OnChange.
class TPsLog : public vcl::TPersistent {
 public:
  TPsLog();
  std::string ClassName() const override { return "TPsLog"; }
  static const TPsClassMeta& ClassMeta();

  // While Active: the local time in DateTimeFormat, a blank and the message
  // become a line of the buffer, the file (when named) is rewritten with the
  // whole buffer, and OnChange is told. Returns the line; empty while
  // inactive.
  std::string AddLine(const std::string& message);

  bool Active = false;
  std::string DateTimeFormat = "yyyy/mm/dd hh:nn:ss.zzz";
  const std::string& FileName() const { return fileName_; }
  // A name without a folder part (no '\\' or ':', nor '/' outside Windows)
  // is placed in the program's folder; empty: no file.
  void SetFileName(const std::string& fileName);
  int MaxLines() const { return buffer_->MaxLines(); }
  void SetMaxLines(int maxLines) { buffer_->SetCapacity(maxLines); }

  TPsLogEvent OnChange;

  // From a TPsLog: FileName, MaxLines and Active, in that order.
  void Assign(const vcl::TPersistent* source) override;

 protected:
  // Into a string list: a copy of the buffer's lines.
  void AssignTo(vcl::TPersistent* dest) const override;

 private:
  std::unique_ptr<TPsLogBuffer> buffer_;
  std::string fileName_;
};

// Registers TPsLog and TPsLogBuffer (the toolkit's start).
void RegisterLogClasses();

}  // namespace toolkit
