// Unit History: the history window. Every history line of the monitor ends
// up in its memo, the most recent last.
#pragma once

#include <string>

#include "vcl/Forms.h"
#include "vcl/Memo.h"

namespace monitor {

class TfrmHist : public vcl::TForm {
 public:
  explicit TfrmHist(vcl::TComponent* owner);
  ~TfrmHist() override;

  vcl::TMemo* MemoMsg;

  void AddHistoryLine(const std::string& text);
};

// The history window while it exists.
extern TfrmHist* frmHist;

}  // namespace monitor
