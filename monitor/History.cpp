#include "monitor/History.h"

namespace monitor {

TfrmHist* frmHist = nullptr;

TfrmHist::TfrmHist(vcl::TComponent* owner) : vcl::TForm(owner, "TfrmHist") {
  SetName("frmHist");
  BorderStyle = vcl::bsDialog;
  Position = vcl::poScreenCenter;
  SetClientWidth(560);
  SetClientHeight(320);

  MemoMsg = new vcl::TMemo(this);
  MemoMsg->SetName("MemoMsg");
  MemoMsg->SetParent(this);
  MemoMsg->SetBounds(8, 8, 544, 304);
  MemoMsg->SetReadOnly(true);
  MemoMsg->VerticalScrollBar = true;
}

TfrmHist::~TfrmHist() {
  if (frmHist == this)
    frmHist = nullptr;
}

void TfrmHist::AddHistoryLine(const std::string& text) {
  MemoMsg->AddLine(text);
}

}  // namespace monitor
