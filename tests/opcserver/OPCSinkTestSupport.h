// Client sinks that record every call a callback thread makes: a DA 2.0
// IOPCDataCallback and a DA 1.0 IAdviseSink (which keeps a copy of each
// stream). Each can run a test's action from inside its call, and answer
// with a chosen result. Safe for calls from any thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/PsComUtils.h"
#include "opcserver/PsOPC.h"
#include "toolkit/PsVariant.h"

namespace korva_test {

// One call of a data callback.
struct CallbackCall {
  enum Kind { DataChange, ReadComplete, WriteComplete } kind = DataChange;
  DWORD transactionID = 0;
  OPCHANDLE group = 0;
  HRESULT masterQuality = S_OK;
  HRESULT masterError = S_OK;
  std::vector<OPCHANDLE> clientHandles;
  std::vector<toolkit::PsVariant> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> timeStamps;
  std::vector<HRESULT> errors;
  // The tick the call came at (the installed clock's).
  uint64_t tick = 0;
};

// The calls a sink received, for the test's thread to read and wait for.
template <class Call>
class CallRecord {
 public:
  std::vector<Call> Calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  size_t Count() {
    std::lock_guard lock(mutex_);
    return calls_.size();
  }
  // Waits (real time, bounded) for at least `count` calls.
  bool WaitForCount(size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return calls_.size() >= count; });
  }

  // Runs inside each call, after it was recorded.
  std::function<void(const Call&)> action;

 protected:
  void Record(const Call& call) {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(call);
      changed_.notify_all();
    }
    if (action)
      action(call);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Call> calls_;
};

class RecordingCallback : public opcserver::ComObject<IOPCDataCallback>,
                          public CallRecord<CallbackCall> {
 public:
  HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality,
                                         HRESULT hrMastererror, DWORD dwCount,
                                         OPCHANDLE* phClientItems, VARIANT* pvValues,
                                         WORD* pwQualities, FILETIME* pftTimeStamps,
                                         HRESULT* pErrors) override {
    return Record(CallbackCall::DataChange, dwTransid, hGroup, hrMasterquality, hrMastererror,
                  dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
  }
  HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                           HRESULT hrMasterquality, HRESULT hrMastererror,
                                           DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities,
                                           FILETIME* pftTimeStamps, HRESULT* pErrors) override {
    return Record(CallbackCall::ReadComplete, dwTransid, hGroup, hrMasterquality, hrMastererror,
                  dwCount, phClientItems, pvValues, pwQualities, pftTimeStamps, pErrors);
  }
  HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr,
                                            DWORD dwCount, OPCHANDLE* pClienthandles,
                                            HRESULT* pErrors) override {
    return Record(CallbackCall::WriteComplete, dwTransid, hGroup, S_OK, hrMastererr, dwCount,
                  pClienthandles, nullptr, nullptr, nullptr, pErrors);
  }
  HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return E_NOTIMPL; }

  HRESULT answer = S_OK;
  // Read on each call for its tick; none: 0.
  std::function<uint64_t()> clock;

 private:
  HRESULT Record(CallbackCall::Kind kind, DWORD id, OPCHANDLE group, HRESULT quality, HRESULT error,
                 DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                 const WORD* qualities, const FILETIME* times, const HRESULT* errors) {
    CallbackCall call;
    call.kind = kind;
    call.transactionID = id;
    call.group = group;
    call.masterQuality = quality;
    call.masterError = error;
    call.tick = clock ? clock() : 0;
    for (DWORD i = 0; i < count; ++i) {
      call.clientHandles.push_back(handles[i]);
      call.errors.push_back(errors[i]);
      if (values) {
        call.values.push_back(opcserver::VariantToPsVariant(values[i]));
        call.qualities.push_back(qualities[i]);
        call.timeStamps.push_back(times[i]);
      }
    }
    CallRecord::Record(call);
    return answer;
  }
};

// One stream a DA 1.0 sink received.
struct AdviseCall {
  FORMATETC format{};
  DWORD tymed = 0;
  bool released = false;
  std::vector<uint8_t> bytes;

  template <class T>
  T At(size_t offset) const {
    T value{};
    EXPECT_LE(offset + sizeof value, bytes.size());
    if (offset + sizeof value <= bytes.size())
      std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
  }
};

class RecordingAdviseSink : public opcserver::ComObject<IAdviseSink>,
                            public CallRecord<AdviseCall> {
 public:
  void STDMETHODCALLTYPE OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override {
    AdviseCall call;
    call.format = *pFormatetc;
    call.tymed = pStgmed->tymed;
    call.released = pStgmed->pUnkForRelease != nullptr;
    const auto* block = static_cast<const uint8_t*>(GlobalLock(pStgmed->hGlobal));
    call.bytes.assign(block, block + GlobalSize(pStgmed->hGlobal));
    GlobalUnlock(pStgmed->hGlobal);
    Record(call);
  }
  void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
  void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
  void STDMETHODCALLTYPE OnSave() override {}
  void STDMETHODCALLTYPE OnClose() override {}
};

}  // namespace korva_test
