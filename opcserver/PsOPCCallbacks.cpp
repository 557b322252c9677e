#include "opcserver/PsOPCCallbacks.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "opcserver/PsOPC.h"
#include "platform/com/Com.h"
#include "vcl/SysUtils.h"

namespace opcserver {
namespace {

// A value's image in the stream: its type, three reserved words and eight
// bytes of data, as a 32-bit VARIANT lays them out.
constexpr size_t kValueImageSize = 16;
constexpr size_t kValueDataOffset = 8;
constexpr size_t kValueDataSize = 8;

template <class T>
void PutAt(uint8_t* block, size_t offset, const T& value) {
  std::memcpy(block + offset, &value, sizeof value);
}

bool IsText(const VARIANT& value) {
  return value.vt == VT_BSTR;
}

// The bytes a value takes after its image: a text's byte length, its
// characters and a zero.
size_t TextTail(const VARIANT& value) {
  return sizeof(DWORD) + SysStringByteLen(value.bstrVal) + sizeof(OLECHAR);
}

size_t ItemHeaderSize(bool withTime) {
  return withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
}

// Writes one value at `offset`; the offset after it.
size_t PutValue(uint8_t* block, size_t offset, const VARIANT& value) {
  PutAt(block, offset, value.vt);
  if (IsText(value)) {
    // The pointer field stays zero: it means nothing to the receiver.
    const auto bytes = static_cast<DWORD>(SysStringByteLen(value.bstrVal));
    PutAt(block, offset + kValueImageSize, bytes);
    if (bytes > 0)
      std::memcpy(block + offset + kValueImageSize + sizeof bytes, value.bstrVal, bytes);
    return offset + kValueImageSize + TextTail(value);
  }
  // Only the bytes the type uses: the rest of the union may be stale.
  const size_t used = std::min(platform::com::VariantValueSize(value.vt), kValueDataSize);
  std::memcpy(block + offset + kValueDataOffset, &value.llVal, used);
  return offset + kValueImageSize;
}

struct GlobalBlockFree {
  void operator()(void* block) const { GlobalFree(block); }
};
using GlobalBlock = std::unique_ptr<void, GlobalBlockFree>;

}  // namespace

const char* AnswerKindName(TPsOPCAnswerKind kind) {
  switch (kind) {
    case akDataChange:
      return "DataChange";
    case akReadComplete:
      return "Read";
    case akWriteComplete:
      return "Write";
  }
  return "";
}

std::string DispatchLogLine(const TPsOPCAnswer& answer) {
  return vcl::Format("Transaction ID=%d Kind=%s (Handles:[%s], Errors[%s])", answer.transactionID,
                     AnswerKindName(answer.kind),
                     HandleListText(answer.serverHandles, answer.count),
                     ErrorListText(answer.errors, answer.count));
}

HRESULT DispatchToOPCDataCallback(IOPCDataCallback* callback, const TPsOPCAnswer& answer) {
  switch (answer.kind) {
    case akDataChange:
      return callback->OnDataChange(answer.transactionID, answer.groupClientHandle,
                                    answer.masterQuality, answer.masterError, answer.count,
                                    answer.clientHandles, answer.values, answer.qualities,
                                    answer.timeStamps, answer.errors);
    case akReadComplete:
      return callback->OnReadComplete(answer.transactionID, answer.groupClientHandle,
                                      answer.masterQuality, answer.masterError, answer.count,
                                      answer.clientHandles, answer.values, answer.qualities,
                                      answer.timeStamps, answer.errors);
    case akWriteComplete:
      return callback->OnWriteComplete(answer.transactionID, answer.groupClientHandle,
                                       answer.masterError, answer.count, answer.clientHandles,
                                       answer.errors);
  }
  return E_FAIL;
}

size_t DA1StreamSize(const TPsOPCAnswer& answer, bool withTime) {
  if (answer.kind == akWriteComplete)
    return sizeof(OPCGROUPHEADERWRITE) + size_t{answer.count} * sizeof(OPCITEMHEADERWRITE);
  uint64_t size = sizeof(OPCGROUPHEADER);
  for (DWORD i = 0; i < answer.count; ++i) {
    const VARIANT& value = answer.values[i];
    if (value.vt & VT_ARRAY)
      throw EPsOPCProviderException("Arrays not support ed with DA1");
    size += ItemHeaderSize(withTime) + kValueImageSize + (IsText(value) ? TextTail(value) : 0);
  }
  if (size > 0xFFFFFFFFu)
    throw vcl::ERangeError(
        vcl::Format("A DA 1.0 stream of %d bytes does not fit its size field", size));
  return static_cast<size_t>(size);
}

void FillDA1DataChange(const TPsOPCAnswer& answer, bool withTime, uint8_t* block) {
  if (answer.kind == akWriteComplete) {
    PutAt(block, 0,
          OPCGROUPHEADERWRITE{answer.count, answer.groupClientHandle, answer.transactionID,
                              answer.masterError});
    for (DWORD i = 0; i < answer.count; ++i)
      PutAt(block, sizeof(OPCGROUPHEADERWRITE) + i * sizeof(OPCITEMHEADERWRITE),
            OPCITEMHEADERWRITE{answer.clientHandles[i], answer.errors[i]});
    return;
  }
  const size_t headerSize = ItemHeaderSize(withTime);
  size_t offset = sizeof(OPCGROUPHEADER) + answer.count * headerSize;
  for (DWORD i = 0; i < answer.count; ++i) {
    const size_t at = sizeof(OPCGROUPHEADER) + i * headerSize;
    // The two headers share their first fields; the reserved word stays zero.
    OPCITEMHEADER2 item{answer.clientHandles[i], static_cast<DWORD>(offset), answer.qualities[i],
                        0};
    PutAt(block, at, item);
    if (withTime)
      PutAt(block, at + offsetof(OPCITEMHEADER1, ftTimeStampItem), answer.timeStamps[i]);
    offset = PutValue(block, offset, answer.values[i]);
  }
  PutAt(block, 0,
        OPCGROUPHEADER{static_cast<DWORD>(offset), answer.count, answer.groupClientHandle,
                       answer.transactionID, answer.masterError});
}

HRESULT DispatchToAdviseSink(IAdviseSink* sink, CLIPFORMAT format, const TPsOPCAnswer& answer) {
  FORMATETC formatEtc{};
  formatEtc.cfFormat = answer.kind == akWriteComplete ? OPCSTMFORMATWRITECOMPLETE : format;
  formatEtc.ptd = nullptr;
  formatEtc.dwAspect = DVASPECT_CONTENT;
  formatEtc.lindex = -1;
  formatEtc.tymed = TYMED_HGLOBAL;

  const bool withTime = formatEtc.cfFormat == OPCSTMFORMATDATATIME;
  const size_t size = DA1StreamSize(answer, withTime);
  GlobalBlock block(GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size));
  if (!block)
    return E_FAIL;
  auto* bytes = static_cast<uint8_t*>(GlobalLock(block.get()));
  if (!bytes)
    return E_FAIL;
  FillDA1DataChange(answer, withTime, bytes);
  GlobalUnlock(block.get());

  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block.get();
  medium.pUnkForRelease = nullptr;
  sink->OnDataChange(&formatEtc, &medium);
  return S_OK;
}

}  // namespace opcserver
