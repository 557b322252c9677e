// Unit PsOPC: the OPC side of the toolkit. Result codes and quality words
// in text, the exceptions that carry a failure to the client, the mapping of
// any exception to the result code a client receives, the quality of a
// variable as an OPC quality word, the memory OPC hands to clients (the COM
// task allocator), and the conversions between the toolkit's variants and
// COM's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "opcserver/OPCDA.h"
#include "opcserver/PsComUtils.h"
#include "toolkit/PsClasses.h"
#include "toolkit/PsVariant.h"
#include "toolkit/PsVars.h"
#include "vcl/SysUtils.h"

namespace opcserver {

// --- Result codes in text -------------------------------------------------------

// The short text of a code: the server's own for the codes it uses, else
// the system's (OleErrorText).
std::string GetReason(HRESULT code);
// The long text of a code; "No more info available." for codes without one.
std::string GetDetails(HRESULT code);

// The lists of a call's log line, joined by commas: handles in decimal
// ("110,111"), result codes in hexadecimal ("$0,$C0040006"). Empty for no
// array.
std::string HandleListText(const OPCHANDLE* handles, size_t count);
std::string ErrorListText(const HRESULT* errors, size_t count);

// --- Exceptions -------------------------------------------------------------------

// OPC-side errors without a code.
VCL_DECLARE_EXCEPTION(EPsOPCException, toolkit::EPsException);
VCL_DECLARE_EXCEPTION(EPsOPCProviderException, EPsOPCException);
VCL_DECLARE_EXCEPTION(EPsOPCProviderAddressSpaceException, EPsOPCProviderException);
VCL_DECLARE_EXCEPTION(EPsOPCProviderGroupDuplicateName, EPsOPCProviderException);
VCL_DECLARE_EXCEPTION(EPsOPCProviderInvalidArg, EPsOPCProviderException);

// An OPC error of a call: its code, an optional reason, and the interface
// and method that failed. The message is
// "OPC Error in method <interface>.<method>\rCode: $<hex> (<reason>)\rDetails: <details>",
// put together as text: nothing in the names or the reason is a format.
class EPsOPCError : public EOleSysError {
 public:
  EPsOPCError(HRESULT errorCode, const std::string& reason, const std::string& method,
              const IID& iid);
  std::string ClassName() const override { return "EPsOPCError"; }

  // Its own reason when it has one, else the code's.
  std::string GetReason() const;
  const std::string& Method() const { return method_; }
  const IID& Iid() const { return iid_; }

 private:
  std::string reason_;
  std::string method_;
  IID iid_;
};

// Server-side errors with a code.
class EPsOPCProviderError : public EOleSysError {
 public:
  EPsOPCProviderError(const std::string& message, HRESULT errorCode)
      : EOleSysError(message, errorCode) {}
  template <class... Args>
  EPsOPCProviderError(HRESULT errorCode, std::string_view format, const Args&... args)
      : EOleSysError(vcl::Format(format, args...), errorCode) {}
  std::string ClassName() const override { return "EPsOPCProviderError"; }
};

// "Invalid ItemID", with OPC_E_INVALIDITEMID.
class EPsOPCProviderInvalidItemID : public EPsOPCProviderError {
 public:
  EPsOPCProviderInvalidItemID() : EPsOPCProviderError("Invalid ItemID", OPC_E_INVALIDITEMID) {}
  std::string ClassName() const override { return "EPsOPCProviderInvalidItemID"; }
};

// "Unknown Item ID: " and the ID, with OPC_E_UNKNOWNITEMID.
class EPsOPCProviderUnknownItemID : public EPsOPCProviderError {
 public:
  explicit EPsOPCProviderUnknownItemID(const std::string& itemID)
      : EPsOPCProviderError("Unknown Item ID: " + itemID, OPC_E_UNKNOWNITEMID) {}
  std::string ClassName() const override { return "EPsOPCProviderUnknownItemID"; }
};

// The result code a client receives for an exception, the first match of:
// an OLE error's own code; out of memory E_OUTOFMEMORY; list errors and
// invalid arguments E_INVALIDARG; a failed interface cast E_NOINTERFACE; a
// write to a read-only variable OPC_E_BADRIGHTS; a duplicate group name
// OPC_E_DUPLICATENAME; range, overflow and math errors OPC_E_RANGE;
// conversion, variable and variant errors OPC_E_BADTYPE; anything else
// E_FAIL.
HRESULT ExceptionToResult(const std::exception& error) noexcept;

// --- Quality ----------------------------------------------------------------------

// 0x00, 0x40 or 0xC0, without substatus or limit; any other value raises
// EPsOPCException "Unknown VarQuality (%s) for PsVarQualityToOPCQuality".
WORD PsVarQualityToOPCQuality(toolkit::TPsVarQuality quality);

inline WORD OPCQualityStatus(WORD quality) {
  return quality & OPC_QUALITY_MASK;
}
inline WORD OPCQualitySubStatus(WORD quality) {
  return quality & OPC_STATUS_MASK;
}
inline WORD OPCQualityLimit(WORD quality) {
  return quality & OPC_LIMIT_MASK;
}
// "Bad", "Uncertain", "Good" or "N/A".
std::string OPCQualityStatusText(WORD quality);
// The substatus within its status; empty for the status N/A, "N/A" for one
// the status does not have.
std::string OPCQualitySubStatusText(WORD quality);
// "Not limited", "At Low limit", "At High limit" or "Constant".
std::string OPCQualityLimitText(WORD quality);
// The three joined by ';': 0xD8 "Good;Local override;Not limited".
std::string OPCQualityText(WORD quality);

// --- Time stamps ------------------------------------------------------------------

// A date-time as the FILETIME clients get; 0 and NaN give a zero FILETIME.
FILETIME ToFileTime(vcl::TDateTime time);

// --- Memory handed to clients ---------------------------------------------------

// Blocks of the COM task allocator. Sizes and counts are checked before
// anything is allocated: a negative size, or a list of more than
// MaxListCount entries, raises ERangeError; an allocator that answers
// nothing raises EOutOfMemory "CoTaskMemAlloc failed to allocate %d bytes%s."
// and leaves the block as it was.
class TPsOPCAlloc {
 public:
  // The most entries one call hands out.
  static constexpr int64_t MaxListCount = 65536;

  // Re-allocates `p` to `size` bytes; 0 frees it.
  static void AllocMem(void*& p, int64_t size);
  // The same, then the bytes from `offset` to the end are zero; an offset at
  // or past the end clears nothing, a negative one raises ERangeError.
  static void CAllocMem(void*& p, int64_t size, int64_t offset);
  static void FreeMem(void*& p);

  // `count` zero-filled entries of T (for VARIANTs: empty ones).
  template <class T>
  static void AllocList(T*& p, int64_t count) {
    void* block = p;
    CAllocMem(block, ListBytes(count, sizeof(T)), 0);
    p = static_cast<T*>(block);
  }
  template <class T>
  static void FreeList(T*& p) {
    void* block = p;
    FreeMem(block);
    p = nullptr;
  }

  static void AllocItemStateList(OPCITEMSTATE*& p, int64_t count) { AllocList(p, count); }
  // Clears the values of the first `count` entries, then frees the list.
  static void FreeItemStateList(OPCITEMSTATE*& p, int64_t count);
  static void FreeResultList(HRESULT*& p) { FreeList(p); }

 private:
  static int64_t ListBytes(int64_t count, size_t entrySize);
};

// --- Variants ---------------------------------------------------------------------

// A COM variant as the toolkit's: scalars of the types both know (BSTR as
// UTF-8 text of type varOleStr; VT_INT, VT_UINT and VT_UI8 as integer,
// long word and int64), references followed, safe arrays of them with
// their bounds. Anything else raises EVariantTypeCastError; a value that
// does not fit EVariantOverflowError; a malformed array EVariantError.
toolkit::PsVariant VariantToPsVariant(const VARIANT& source);
// The toolkit's variant into `dest`, which must hold a valid variant: it
// is cleared, then filled. Texts become BSTRs (from UTF-8), arrays safe
// arrays with the same bounds. On failure `dest` is left empty.
void PsVariantToVariant(const toolkit::PsVariant& source, VARIANT& dest);
// A value a client hands in, copied into `target` (cleared first) so that it
// needs nothing of the caller's memory once the call has returned: a
// reference is followed (VariantCopyInd). OPC_E_BADTYPE, `target` empty, for
// a reference to nothing and for a value that would still hold one (an
// array of variants with references among its elements).
HRESULT CopyCallersValue(const VARIANT& source, VARIANT& target);

}  // namespace opcserver
