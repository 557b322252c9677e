#include "ClientSinks.h"

#include <cstdio>

#include "Da10Stream.h"
#include "ValueText.h"
#include "vcl/SysUtils.h"

namespace opcclient {

void Watch::Expect(std::vector<std::string> items, std::optional<size_t> awaited,
                   std::string awaitedValue) {
  const std::lock_guard<std::mutex> lock(mutex_);
  items_ = std::move(items);
  awaited_ = awaited;
  awaitedValue_ = std::move(awaitedValue);
}

void Watch::Print(const std::string& line) {
  const std::lock_guard<std::mutex> lock(mutex_);
  PrintLocked(line);
}

void Watch::PrintLocked(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

void Watch::Change(const char* via, OPCHANDLE hClient, const std::string& value, WORD quality,
                   const FILETIME& timeStamp) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::string name =
      hClient < items_.size() ? items_[hClient] : "(client handle " + std::to_string(hClient) + ")";
  PrintLocked(std::string("change (") + via + "): " + name + " = " + value + ", " +
              QualityText(quality) + ", " + TimeText(timeStamp));
  if (awaited_ && hClient == *awaited_ && vcl::SameText(value, awaitedValue_)) {
    reached_ = true;
    wake_.notify_all();
  }
}

void Watch::Shutdown(const std::string& reason) {
  const std::lock_guard<std::mutex> lock(mutex_);
  PrintLocked("shutdown request: \"" + reason + "\"");
  shutdown_ = true;
  wake_.notify_all();
}

bool Watch::WaitForValue(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_for(lock, limit, [this] { return reached_; });
}

bool Watch::WaitForShutdown(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_for(lock, limit, [this] { return shutdown_; });
}

HRESULT DataCallbackSink::OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                       OPCHANDLE* phClientItems, VARIANT* pvValues,
                                       WORD* pwQualities, FILETIME* pftTimeStamps,
                                       HRESULT* pErrors) {
  return opcserver::ComGuard([&] {
    Report("DA 2.0", dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
  });
}

HRESULT DataCallbackSink::OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                         OPCHANDLE* phClientItems, VARIANT* pvValues,
                                         WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) {
  return opcserver::ComGuard([&] {
    Report("read", dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
  });
}

void DataCallbackSink::Report(const char* via, DWORD count, const OPCHANDLE* handles,
                              const VARIANT* values, const WORD* qualities,
                              const FILETIME* timeStamps, const HRESULT* errors) {
  if (count > 0 && (!handles || !values || !qualities || !timeStamps || !errors)) {
    watch_->Print(std::string("change (") + via + "): arrays missing");
    return;
  }
  for (DWORD i = 0; i < count; ++i) {
    if (FAILED(errors[i]))
      watch_->Print(std::string("change (") + via + "): client handle " +
                    std::to_string(handles[i]) + " failed with " + ResultText(errors[i]));
    else
      watch_->Change(via, handles[i], ValueText(values[i]), qualities[i], timeStamps[i]);
  }
}

void AdviseSink::OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) {
  opcserver::ComGuard([&] {
    if (!pFormatetc || !pStgmed || pFormatetc->cfFormat != opcserver::OPCSTMFORMATDATATIME ||
        pStgmed->tymed != TYMED_HGLOBAL || !pStgmed->hGlobal) {
      watch_->Print("change (DA 1.0): a medium other than data with time stamps");
      return;
    }
    const void* block = GlobalLock(pStgmed->hGlobal);
    if (!block) {
      watch_->Print("change (DA 1.0): the stream cannot be read");
      return;
    }
    std::string error;
    const std::optional<DataStream> stream = DecodeDataWithTime(
        static_cast<const uint8_t*>(block), GlobalSize(pStgmed->hGlobal), &error);
    GlobalUnlock(pStgmed->hGlobal);
    if (!stream) {
      watch_->Print("change (DA 1.0): " + error);
      return;
    }
    for (const StreamItem& item : stream->items)
      watch_->Change("DA 1.0", item.hClient, item.value, item.quality, item.timeStamp);
  });
}

HRESULT ShutdownSink::ShutdownRequest(LPCWSTR szReason) {
  return opcserver::ComGuard([&] { watch_->Shutdown(platform::com::WideToUtf8(szReason)); });
}

}  // namespace opcclient
