#include "opcserver/MonitorState.h"

#include "monitor/main.h"

namespace opcserver {

bool ReadMonitorState(TMonitorState& state) {
  const monitor::TfrmKorvamon* main = monitor::frmKorvamon;
  if (!main)
    return false;
  state.StatusWord = main->StatusWord;
  state.ConnectionWord = main->ConnectionWord;
  state.DeviceName = main->DeviceName;
  state.LastMessage = main->LastMessage;
  state.ReceivedText = main->ReceivedText;
  return true;
}

}  // namespace opcserver
