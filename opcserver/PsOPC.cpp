#include "opcserver/PsOPC.h"

#include <cstring>
#include <new>
#include <string_view>

#include "toolkit/Debugs.h"
#include "toolkit/PsStrings.h"
#include "toolkit/PsUtils.h"

namespace opcserver {
namespace {

struct CodeText {
  HRESULT code;
  const char* reason;
  const char* details;
};

constexpr CodeText kCodeTexts[] = {
    {S_OK, "OK", "No more info available."},
    {OPC_E_INVALIDHANDLE, "Invalid handle", "The value of the handle is invalid."},
    {OPC_E_BADTYPE, "Bad type",
     "The server cannot convert the data between the requested data type and the canonical "
     "data type."},
    {OPC_E_PUBLIC, "Cannot perform on a Public group",
     "The requested operation cannot be done on a public group."},
    {OPC_E_BADRIGHTS, "No Access Rights", "The Items AccessRights do not allow the operation."},
    {OPC_E_UNKNOWNITEMID, "Unknown ItemID",
     "The item is no longer available in the server address space."},
    {OPC_E_INVALIDITEMID, "Invalid ItemID",
     "The item definition doesn't conform to the server's syntax."},
    {OPC_E_INVALIDFILTER, "Invalid Filter", "The filter string was not valid."},
    {OPC_E_UNKNOWNPATH, "Unknown Path", "The item's access path is not known to the server."},
    {OPC_E_RANGE, "Value out of Range", "The value was out of range."},
    {OPC_E_DUPLICATENAME, "Duplicate name", "Duplicate name not allowed."},
    {OPC_E_INVALIDCONFIGFILE, "Invalid Configuration File",
     "The server's configuration file is an invalid format."},
    {OPC_E_NOTFOUND, "Object not found", "The server could not locate the requested object."},
    {OPC_E_INVALID_PID, "Invalid Property ID",
     "The server does not recognise the passed property ID."},
};

const CodeText* FindCode(HRESULT code) {
  for (const CodeText& entry : kCodeTexts)
    if (entry.code == code)
      return &entry;
  return nullptr;
}

template <class Kind>
bool Is(const std::exception& error) {
  return dynamic_cast<const Kind*>(&error) != nullptr;
}

std::string Text(int number) {
  return std::string(toolkit::PsString(number));
}

// The substatus and limit texts from "N/A" on, in the order of their numbers.
enum SubstatusText {
  kNotAvailable,
  kNonSpecific,
  kConfigurationError,
  kNotConnected,
  kDeviceFailure,
  kSensorFailure,
  kLastKnownValue,
  kCommunicationFailure,
  kOutOfService,
  kLastUsable,
  kSensorNotAccurate,
  kLimitsExceeded,
  kSubNormal,
  kLocalOverride,
  kNotLimited,
  kAtLowLimit,
};

std::string SubstatusString(SubstatusText text) {
  return Text(toolkit::sPsOPCSubstatusFirst + text);
}

// Appended piece by piece: g++'s -Wrestrict at -O3 takes a literal + a
// temporary for an overlapping copy.
template <class T>
std::string JoinedByCommas(const T* values, size_t count, std::string_view format) {
  std::string text;
  for (size_t i = 0; values && i < count; ++i) {
    if (i > 0)
      text += ',';
    text.append(vcl::Format(format, values[i]));
  }
  return text;
}

}  // namespace

std::string GetReason(HRESULT code) {
  const CodeText* entry = FindCode(code);
  return entry ? entry->reason : OleErrorText(code);
}

std::string GetDetails(HRESULT code) {
  const CodeText* entry = FindCode(code);
  return entry ? entry->details : "No more info available.";
}

std::string HandleListText(const OPCHANDLE* handles, size_t count) {
  return JoinedByCommas(handles, count, "%d");
}

std::string ErrorListText(const HRESULT* errors, size_t count) {
  return JoinedByCommas(errors, count, "$%x");
}

FILETIME ToFileTime(vcl::TDateTime time) {
  const uint64_t fileTime = toolkit::DateTimeToFileTime(time);
  return FILETIME{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
}

EPsOPCError::EPsOPCError(HRESULT errorCode, const std::string& reason, const std::string& method,
                         const IID& iid)
    : EOleSysError("OPC Error in method " + GetInterfaceName(iid) + "." + method + "\rCode: $" +
                       vcl::Format("%x", errorCode) + " (" +
                       (reason.empty() ? opcserver::GetReason(errorCode) : reason) +
                       ")\rDetails: " + GetDetails(errorCode),
                   errorCode),
      reason_(reason),
      method_(method),
      iid_(iid) {}

std::string EPsOPCError::GetReason() const {
  return reason_.empty() ? opcserver::GetReason(ErrorCode()) : reason_;
}

HRESULT ExceptionToResult(const std::exception& error) noexcept {
  if (const auto* ole = dynamic_cast<const EOleSysError*>(&error))
    return ole->ErrorCode();
  if (Is<vcl::EOutOfMemory>(error) || Is<std::bad_alloc>(error))
    return E_OUTOFMEMORY;
  if (Is<vcl::EListError>(error) || Is<vcl::EStringListError>(error) ||
      Is<EPsOPCProviderInvalidArg>(error) || Is<EPsOPCProviderAddressSpaceException>(error))
    return E_INVALIDARG;
  if (Is<vcl::EIntfCastError>(error))
    return E_NOINTERFACE;
  if (Is<toolkit::EPsReadOnly>(error))
    return OPC_E_BADRIGHTS;
  if (Is<EPsOPCProviderGroupDuplicateName>(error))
    return OPC_E_DUPLICATENAME;
  if (Is<toolkit::EPsRangeError>(error) || Is<vcl::EIntOverflow>(error) ||
      Is<vcl::EVariantOverflowError>(error) || Is<vcl::EMathError>(error))
    return OPC_E_RANGE;
  if (Is<vcl::EConvertError>(error) || Is<toolkit::EPsVarException>(error) ||
      Is<vcl::EVariantError>(error))
    return OPC_E_BADTYPE;
  return E_FAIL;
}

WORD PsVarQualityToOPCQuality(toolkit::TPsVarQuality quality) {
  switch (quality) {
    case toolkit::vpqBad:
      return OPC_QUALITY_BAD;
    case toolkit::vpqUncertain:
      return OPC_QUALITY_UNCERTAIN;
    case toolkit::vpqGood:
      return OPC_QUALITY_GOOD;
  }
  throw EPsOPCException(vcl::Format("Unknown VarQuality (%d) for PsVarQualityToOPCQuality",
                                    static_cast<int>(quality)));
}

std::string OPCQualityStatusText(WORD quality) {
  switch (OPCQualityStatus(quality)) {
    case OPC_QUALITY_BAD:
      return Text(toolkit::sPsOPCQualityBad);
    case OPC_QUALITY_UNCERTAIN:
      return Text(toolkit::sPsOPCQualityUncertain);
    case OPC_QUALITY_GOOD:
      return Text(toolkit::sPsOPCQualityGood);
    default:
      return SubstatusString(kNotAvailable);
  }
}

std::string OPCQualitySubStatusText(WORD quality) {
  switch (OPCQualityStatus(quality)) {
    case OPC_QUALITY_BAD:
      // The bad substatus values are 0x00 to 0x1C in steps of 4, in text order.
      if (OPCQualitySubStatus(quality) <= OPC_QUALITY_OUT_OF_SERVICE)
        return SubstatusString(
            static_cast<SubstatusText>(kNonSpecific + OPCQualitySubStatus(quality) / 4));
      break;
    case OPC_QUALITY_UNCERTAIN:
      switch (OPCQualitySubStatus(quality)) {
        case OPC_QUALITY_UNCERTAIN:
          return SubstatusString(kNonSpecific);
        case OPC_QUALITY_LAST_USABLE:
          return SubstatusString(kLastUsable);
        case OPC_QUALITY_SENSOR_CAL:
          return SubstatusString(kSensorNotAccurate);
        case OPC_QUALITY_EGU_EXCEEDED:
          return SubstatusString(kLimitsExceeded);
        case OPC_QUALITY_SUB_NORMAL:
          return SubstatusString(kSubNormal);
      }
      break;
    case OPC_QUALITY_GOOD:
      if (OPCQualitySubStatus(quality) == OPC_QUALITY_GOOD)
        return SubstatusString(kNonSpecific);
      if (OPCQualitySubStatus(quality) == OPC_QUALITY_LOCAL_OVERRIDE)
        return SubstatusString(kLocalOverride);
      break;
    default:
      return {};
  }
  return SubstatusString(kNotAvailable);
}

std::string OPCQualityLimitText(WORD quality) {
  switch (OPCQualityLimit(quality)) {
    case OPC_LIMIT_OK:
      return SubstatusString(kNotLimited);
    case OPC_LIMIT_LOW:
      return SubstatusString(kAtLowLimit);
    case OPC_LIMIT_HIGH:
      return Text(toolkit::sPsOPCLimitHigh);
    default:
      return Text(toolkit::sPsOPCLimitConstant);
  }
}

std::string OPCQualityText(WORD quality) {
  return OPCQualityStatusText(quality) + ";" + OPCQualitySubStatusText(quality) + ";" +
         OPCQualityLimitText(quality);
}

int64_t TPsOPCAlloc::ListBytes(int64_t count, size_t entrySize) {
  if (count < 0 || count > MaxListCount)
    throw vcl::ERangeError(
        vcl::Format("A list of %d entries is more than one call may hand out", count));
  return count * static_cast<int64_t>(entrySize);
}

void TPsOPCAlloc::AllocMem(void*& p, int64_t size) {
  CAllocMem(p, size, size);
}

void TPsOPCAlloc::CAllocMem(void*& p, int64_t size, int64_t offset) {
  if (size < 0 || offset < 0)
    throw vcl::ERangeError(vcl::Format("Invalid block of %d bytes from %d", size, offset));
  if (size == 0) {
    FreeMem(p);
    return;
  }
  if (static_cast<uint64_t>(size) > SIZE_MAX)
    throw vcl::ERangeError(vcl::Format("Invalid block of %d bytes", size));
  void* block = CoTaskMemRealloc(p, static_cast<SIZE_T>(size));
  if (!block)
    throw vcl::EOutOfMemory(vcl::Format("CoTaskMemAlloc failed to allocate %d bytes%s.", size,
                                        toolkit::DebugInfoText()));
  p = block;
  if (offset < size)
    std::memset(static_cast<char*>(p) + offset, 0, static_cast<size_t>(size - offset));
}

void TPsOPCAlloc::FreeMem(void*& p) {
  CoTaskMemFree(p);
  p = nullptr;
}

void TPsOPCAlloc::FreeItemStateList(OPCITEMSTATE*& p, int64_t count) {
  if (p && count > 0 && count <= MaxListCount)
    for (int64_t i = 0; i < count; ++i)
      VariantClear(&p[i].vDataValue);
  FreeList(p);
}

}  // namespace opcserver
