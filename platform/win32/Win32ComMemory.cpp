// Counting COM task memory on Windows, for tests that look for leaks: a
// malloc spy registered at the first count lists every block allocated from
// then on. Strings freed go straight back to the allocator (no string cache),
// so a freed BSTR counts as freed. Global memory is not counted here.
#include <mutex>
#include <unordered_map>

#include "platform/com/Com.h"

namespace {

class TaskMemorySpy : public IMallocSpy {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv)
      return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
      *ppv = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Lives as long as the process.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T cbRequest) override {
    requested_ = cbRequest;
    return cbRequest;
  }
  void* STDMETHODCALLTYPE PostAlloc(void* pActual) override {
    if (pActual)
      Add(pActual, requested_);
    return pActual;
  }
  void* STDMETHODCALLTYPE PreFree(void* pRequest, BOOL) override {
    Remove(pRequest);
    return pRequest;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest,
                                      BOOL) override {
    reallocated_ = pRequest;
    requested_ = cbRequest;
    *ppNewRequest = pRequest;
    return cbRequest;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* pActual, BOOL) override {
    // A failed resize keeps the old block; a resize to nothing frees it.
    if (pActual || requested_ == 0) {
      Remove(reallocated_);
      if (pActual)
        Add(pActual, requested_);
    }
    return pActual;
  }
  void* STDMETHODCALLTYPE PreGetSize(void* pRequest, BOOL) override { return pRequest; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

  platform::com::MemoryCount Count() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return {static_cast<int64_t>(blocks_.size()), bytes_};
  }

 private:
  void Add(void* block, SIZE_T size) {
    const std::lock_guard<std::mutex> lock(mutex_);
    blocks_[block] = size;
    bytes_ += static_cast<int64_t>(size);
  }
  void Remove(void* block) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = blocks_.find(block);
    if (found != blocks_.end()) {
      bytes_ -= static_cast<int64_t>(found->second);
      blocks_.erase(found);
    }
  }

  std::mutex mutex_;
  std::unordered_map<void*, SIZE_T> blocks_;
  int64_t bytes_ = 0;
  // A request's pre- and post-call come on the same thread, one after the other.
  static thread_local SIZE_T requested_;
  static thread_local void* reallocated_;
};

thread_local SIZE_T TaskMemorySpy::requested_ = 0;
thread_local void* TaskMemorySpy::reallocated_ = nullptr;

extern "C" void WINAPI SetOaNoCache();

TaskMemorySpy* Spy() {
  static TaskMemorySpy spy;
  static const bool registered = [] {
    SetOaNoCache();
    return SUCCEEDED(CoRegisterMallocSpy(&spy));
  }();
  return registered ? &spy : nullptr;
}

}  // namespace

namespace platform::com {

LiveMemory CountLiveMemory() {
  TaskMemorySpy* spy = Spy();
  return {spy ? spy->Count() : MemoryCount{}, MemoryCount{}};
}

bool MemoryIsCounted() {
  return Spy() != nullptr;
}

}  // namespace platform::com
