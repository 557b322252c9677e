// Unit Info: the about box. It shows the program's title, version and comment
// as the program's own version resource holds them, and keeps the version and
// the executable's date for the main window's start phase.
#pragma once

#include <string>
#include <string_view>

#include "vcl/ExtCtrls.h"
#include "vcl/Forms.h"
#include "vcl/StdCtrls.h"

namespace monitor {

// Separates the strings of a scanned version resource.
inline constexpr char kVersionSeparator = '\x03';

// The strings of a version resource as one text: "LM", then each run of
// UTF-16 characters of the block (code units below 256 only), the runs
// separated by kVersionSeparator. Any bytes are safe: an empty, odd-sized or
// garbled block gives a short text.
std::string ScanVersionResource(std::string_view block);

struct VersionStrings {
  std::string version;  // the FileVersion string
  std::string comment;  // the Comments string after it
};
// FileVersion, and the Comments that follow it, from a version resource. A
// string that is not there is empty.
VersionStrings ReadVersionStrings(std::string_view block);

class TfrmInfo : public vcl::TForm {
 public:
  explicit TfrmInfo(vcl::TComponent* owner);

  vcl::TImage* imgIcon;
  vcl::TLabel* lblTitle;
  vcl::TLabel* Label1;
  vcl::TLabel* lblVersion;
  vcl::TLabel* lblComment;
  vcl::TLabel* lblFreeware;  // acts as a link to the user notes
  vcl::TImage* imgLeds;
  vcl::TPanel* pnlSeparator;
  vcl::TButton* btnClose;

  void FormCreate(vcl::TObject* sender);
  void btnCloseClick(vcl::TObject* sender);
  void FormDeactivate(vcl::TObject* sender);
  void lblFreewareMouseMove(vcl::TObject* sender, vcl::TShiftState shift, int x, int y);
  void FormMouseMove(vcl::TObject* sender, vcl::TShiftState shift, int x, int y);
  void lblFreewareClick(vcl::TObject* sender);

  // Version and comment from the program's own version resource, the date
  // from its executable file.
  void ReadVersionInfo();
  // Version and comment from the version resource `block`.
  void ShowVersionResource(std::string_view block);

  // "V " and the version; the executable's last-write date in the short date
  // format (empty when the file cannot be found).
  const std::string& VersionText() const { return versionText_; }
  const std::string& FileDateText() const { return fileDateText_; }

 private:
  std::string versionText_;
  std::string fileDateText_;
};

}  // namespace monitor
