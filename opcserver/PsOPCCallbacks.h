// Unit PsOPCCallbacks: what a group's callback thread hands to the client's
// sink. One answer (a data change, a completed read or a completed write)
// goes to a DA 2.0 client as a call of its IOPCDataCallback, with the
// answer's own arrays, or to a DA 1.0 client as a stream in a global memory
// block passed to its IAdviseSink.
//
// The DA 1.0 block is sized from its contents (headers, 16-byte value
// images, texts), so a stream of any length goes out whole, and it is
// zero-filled: reserved words and a text's pointer field carry zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "opcserver/OPCDA.h"

namespace opcserver {

// Which call of the client's sink an answer is.
enum TPsOPCAnswerKind { akDataChange, akReadComplete, akWriteComplete };

// One answer as its transaction holds it: `count` entries in each array.
// A write's answer has no values, qualities or time stamps.
struct TPsOPCAnswer {
  TPsOPCAnswerKind kind = akDataChange;
  DWORD transactionID = 0;
  OPCHANDLE groupClientHandle = 0;
  HRESULT masterQuality = S_OK;
  HRESULT masterError = S_OK;
  DWORD count = 0;
  OPCHANDLE* clientHandles = nullptr;
  OPCHANDLE* serverHandles = nullptr;
  VARIANT* values = nullptr;
  WORD* qualities = nullptr;
  FILETIME* timeStamps = nullptr;
  HRESULT* errors = nullptr;
};

// "DataChange", "Read", "Write".
const char* AnswerKindName(TPsOPCAnswerKind kind);

// "Transaction ID=%d Kind=%s (Handles:[%s], Errors[%s])": the group's log
// line for a delivered answer (server handles in decimal, errors "$%x").
std::string DispatchLogLine(const TPsOPCAnswer& answer);

// ---- DA 2.0 ----------------------------------------------------------------

// OnDataChange, OnReadComplete or OnWriteComplete of `callback` with the
// answer; the callback's result.
HRESULT DispatchToOPCDataCallback(IOPCDataCallback* callback, const TPsOPCAnswer& answer);

// ---- DA 1.0 ----------------------------------------------------------------

// The bytes of the answer's stream: the data stream (with or without time
// stamps), or for a write the write-complete stream. EPsOPCProviderException
// "Arrays not support ed with DA1" for an array value; ERangeError for a
// stream beyond 32-bit sizes.
size_t DA1StreamSize(const TPsOPCAnswer& answer, bool withTime);
// Writes the stream into `block`, which holds DA1StreamSize bytes, all zero.
void FillDA1DataChange(const TPsOPCAnswer& answer, bool withTime, uint8_t* block);

// Sends the answer to a DA 1.0 sink that advised `format`: a write in the
// write-complete format, anything else in `format` (with time stamps when it
// is OPCSTMFORMATDATATIME). The block is freed after the sink returns. S_OK
// once sent; E_FAIL when the block cannot be allocated; an array value
// raises (nothing is sent).
HRESULT DispatchToAdviseSink(IAdviseSink* sink, CLIPFORMAT format, const TPsOPCAnswer& answer);

}  // namespace opcserver
