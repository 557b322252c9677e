// COM task memory, global memory and BSTR of the stand-in. Every live
// block is listed with its size, so tests can count what was not freed and a
// free of anything else stops the program at once instead of corrupting it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/com/Com.h"

namespace {

class BlockList {
 public:
  explicit BlockList(const char* kind) : kind_(kind) {}

  void* Allocate(size_t size) {
    // malloc(0) may answer null; a block of no bytes is still a block.
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block) {
      const std::lock_guard<std::mutex> lock(mutex_);
      blocks_.emplace(block, size);
      bytes_ += static_cast<int64_t>(size);
    }
    return block;
  }

  void* Resize(void* block, size_t size) {
    const size_t old = SizeOf(block);
    void* moved = std::realloc(block, size == 0 ? 1 : size);
    if (moved) {
      const std::lock_guard<std::mutex> lock(mutex_);
      blocks_.erase(block);
      blocks_.emplace(moved, size);
      bytes_ += static_cast<int64_t>(size) - static_cast<int64_t>(old);
    }
    return moved;
  }

  void Free(void* block) {
    SizeOf(block);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      bytes_ -= static_cast<int64_t>(blocks_[block]);
      blocks_.erase(block);
    }
    std::free(block);
  }

  bool Contains(void* block) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return blocks_.count(block) != 0;
  }

  // The size of a live block; anything else is a fault of the caller.
  size_t SizeOf(void* block) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = blocks_.find(block);
    if (found == blocks_.end()) {
      std::fprintf(stderr, "%s: %p is not a live block\n", kind_, block);
      std::abort();
    }
    return found->second;
  }

  platform::com::MemoryCount Count() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return {static_cast<int64_t>(blocks_.size()), bytes_};
  }

 private:
  const char* kind_;
  mutable std::mutex mutex_;
  std::unordered_map<void*, size_t> blocks_;
  int64_t bytes_ = 0;
};

BlockList& TaskBlocks() {
  static BlockList list("COM task memory");
  return list;
}

BlockList& GlobalBlocks() {
  static BlockList list("global memory");
  return list;
}

// A BSTR's block: the byte length, then the characters and two zero bytes.
constexpr size_t kBstrPrefix = sizeof(uint32_t);

BYTE* BstrBlock(BSTR text) {
  return reinterpret_cast<BYTE*>(text) - kBstrPrefix;
}

}  // namespace

LPVOID CoTaskMemAlloc(SIZE_T cb) {
  return TaskBlocks().Allocate(cb);
}

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (!pv)
    return CoTaskMemAlloc(cb);
  if (cb == 0) {
    CoTaskMemFree(pv);
    return nullptr;
  }
  return TaskBlocks().Resize(pv, cb);
}

void CoTaskMemFree(LPVOID pv) {
  if (pv)
    TaskBlocks().Free(pv);
}

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  if (uFlags & GMEM_MOVEABLE)
    return nullptr;
  void* block = GlobalBlocks().Allocate(dwBytes);
  // A block not asked to be zeroed is filled, as a debugging heap does, so
  // what relies on zeros it was never given shows.
  if (block)
    std::memset(block, (uFlags & GMEM_ZEROINIT) ? 0 : 0xCD, dwBytes);
  return block;
}

LPVOID GlobalLock(HGLOBAL hMem) {
  return GlobalBlocks().Contains(hMem) ? hMem : nullptr;
}

BOOL GlobalUnlock(HGLOBAL) {
  return FALSE;
}

SIZE_T GlobalSize(HGLOBAL hMem) {
  return GlobalBlocks().Contains(hMem) ? GlobalBlocks().SizeOf(hMem) : 0;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
  if (!hMem || !GlobalBlocks().Contains(hMem))
    return hMem;
  GlobalBlocks().Free(hMem);
  return nullptr;
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) {
  const uint64_t size = uint64_t{len} + kBstrPrefix + sizeof(OLECHAR);
  if (size > UINT32_MAX)
    return nullptr;
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (!block)
    return nullptr;
  const uint32_t byteLength = len;
  std::memcpy(block, &byteLength, kBstrPrefix);
  if (psz)
    std::memcpy(block + kBstrPrefix, psz, len);
  else
    std::memset(block + kBstrPrefix, 0, len);
  // Two zero bytes end the text even when the byte length is odd.
  block[kBstrPrefix + len] = 0;
  block[kBstrPrefix + len + 1] = 0;
  return reinterpret_cast<BSTR>(block + kBstrPrefix);
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  const uint64_t bytes = uint64_t{ui} * sizeof(OLECHAR);
  if (bytes > UINT32_MAX)
    return nullptr;
  return SysAllocStringByteLen(reinterpret_cast<const char*>(strIn), static_cast<UINT>(bytes));
}

BSTR SysAllocString(const OLECHAR* psz) {
  if (!psz)
    return nullptr;
  const size_t length = platform::com::WideLength(psz);
  if (length > UINT32_MAX / sizeof(OLECHAR))
    return nullptr;
  return SysAllocStringLen(psz, static_cast<UINT>(length));
}

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr)
    return 0;
  uint32_t byteLength = 0;
  std::memcpy(&byteLength, BstrBlock(bstr), kBstrPrefix);
  return byteLength;
}

UINT SysStringLen(BSTR pbstr) {
  return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

void SysFreeString(BSTR bstrString) {
  if (bstrString)
    CoTaskMemFree(BstrBlock(bstrString));
}

namespace platform::com {

LiveMemory CountLiveMemory() {
  return {TaskBlocks().Count(), GlobalBlocks().Count()};
}

bool MemoryIsCounted() {
  return true;
}

}  // namespace platform::com
