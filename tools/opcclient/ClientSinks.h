// What opcclient hands the server to be told of changes (the DA 2.0 data
// callback, the DA 1.0 advise sink for data with time stamps) and of its
// end (the shutdown sink), and the Watch that prints what they are told, as
// it comes on COM's threads, and wakes the main thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/PsComUtils.h"

namespace opcclient {

class Watch {
 public:
  // The items by client handle (their index); the awaited item's index and
  // the value text it is awaited with, if any. Set before subscribing.
  void Expect(std::vector<std::string> items, std::optional<size_t> awaited,
              std::string awaitedValue);

  // One line to standard output, whole, at once.
  void Print(const std::string& line);
  void Change(const char* via, OPCHANDLE hClient, const std::string& value, WORD quality,
              const FILETIME& timeStamp);
  void Shutdown(const std::string& reason);

  // Whether the awaited item showed the awaited value within the limit.
  bool WaitForValue(std::chrono::milliseconds limit);
  // Whether the server asked its clients to let go within the limit.
  bool WaitForShutdown(std::chrono::milliseconds limit);

 private:
  void PrintLocked(const std::string& line);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::string> items_;
  std::optional<size_t> awaited_;
  std::string awaitedValue_;
  bool reached_ = false;
  bool shutdown_ = false;
};

class DataCallbackSink final : public opcserver::ComObject<IOPCDataCallback> {
 public:
  explicit DataCallbackSink(std::shared_ptr<Watch> watch) : watch_(std::move(watch)) {}

  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                         HRESULT hrMastererror, DWORD dwCount,
                                         OPCHANDLE* phClientItems, VARIANT* pvValues,
                                         WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) override;
  HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                           HRESULT hrMasterquality, HRESULT hrMastererror,
                                           DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities,
                                           FILETIME* pftTimeStamps, HRESULT* pErrors) override;
  HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                            HRESULT*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

 private:
  void Report(const char* via, DWORD count, const OPCHANDLE* handles, const VARIANT* values,
              const WORD* qualities, const FILETIME* timeStamps, const HRESULT* errors);

  const std::shared_ptr<Watch> watch_;
};

// Takes the data-with-time stream; other formats are reported and ignored.
class AdviseSink final : public opcserver::ComObject<IAdviseSink> {
 public:
  explicit AdviseSink(std::shared_ptr<Watch> watch) : watch_(std::move(watch)) {}

  void STDMETHODCALLTYPE OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override;
  void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
  void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
  void STDMETHODCALLTYPE OnSave() override {}
  void STDMETHODCALLTYPE OnClose() override {}

 private:
  const std::shared_ptr<Watch> watch_;
};

class ShutdownSink final : public opcserver::ComObject<IOPCShutdown> {
 public:
  explicit ShutdownSink(std::shared_ptr<Watch> watch) : watch_(std::move(watch)) {}

  HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override;

 private:
  const std::shared_ptr<Watch> watch_;
};

}  // namespace opcclient
