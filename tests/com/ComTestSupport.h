// What the COM tests share: a scope that checks no COM memory outlives it,
// and an object that only counts its references.
#pragma once

#include <gtest/gtest.h>

#include "platform/com/Com.h"

namespace korva_test {

// Fails the test when task or global memory allocated inside the scope is
// still live at its end (where the build counts memory).
class NoLeaks {
 public:
  NoLeaks() : start_(platform::com::CountLiveMemory()) {}
  ~NoLeaks() {
    const platform::com::LiveMemory end = platform::com::CountLiveMemory();
    EXPECT_EQ(end.task.blocks, start_.task.blocks) << "task memory blocks";
    EXPECT_EQ(end.task.bytes, start_.task.bytes) << "task memory bytes";
    EXPECT_EQ(end.global.blocks, start_.global.blocks) << "global memory blocks";
  }
  NoLeaks(const NoLeaks&) = delete;
  NoLeaks& operator=(const NoLeaks&) = delete;

 private:
  platform::com::LiveMemory start_;
};

// An interface whose references are counted and never free it.
class CountedUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
    if (!*ppv)
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }

  ULONG references = 1;
};

}  // namespace korva_test
