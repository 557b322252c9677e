// Unit PsUtils: free routines the toolkit and the OPC server share: a 64-bit
// millisecond tick, UTC now and local time, file times, file versions, and
// the routines that classify, compare and print variants.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/TimeZone.h"
#include "toolkit/PsVariant.h"
#include "vcl/SysUtils.h"

namespace toolkit {

// ---- Time -----------------------------------------------------------------

// Milliseconds since the system started: the clock's 32-bit tick as the low
// half and the count of its wraps as the high half. A wrap is seen when the
// tick is lower than at the last call, so it must be called at least once in
// every 49.7 days. Safe for concurrent callers; a wrap is counted once.
// EIntOverflow when the wrap count would overflow.
uint64_t PsGetTickCount64();
// Forgets the ticks seen (last tick 0, no wraps): the toolkit's start does it.
void ResetTickState();

// The current UTC time from the installed clock.
vcl::TDateTime NowUTC();
// `utc` minus the local bias of that moment under `zone`: standard time
// unless daylight time is in use and the moment lies strictly inside it.
vcl::TDateTime UTCToLocalTime(vcl::TDateTime utc, const platform::TimeZoneRules& zone);
// The same under the installed clock's zone.
vcl::TDateTime UTCToLocalTime(vcl::TDateTime utc);
// DateTimeToStr of the local time.
std::string UTCToLocalText(vcl::TDateTime utc);
// The local zone's standard offset from UTC in minutes (60 in central Europe).
int32_t GetLocalUTCOffset();

// File times count 100 ns since 1 January 1601 (UTC). A file time beyond
// 9999 raises EConvertError; so does a date-time outside 1601 to 9999.
// DateTimeToFileTime gives 0 for 0 and NaN. Both work to the millisecond.
vcl::TDateTime FileTimeToDateTime(uint64_t fileTime);
uint64_t DateTimeToFileTime(vcl::TDateTime value);

// The file version in the fixed part of a version block's root ("\"), as
// four words: the high and the low half of its most significant double word,
// then the low and the high half of its least significant one (3.1.2.11
// gives 3, 1, 11, 2). Nothing when the block has no fixed part or is malformed.
std::optional<std::array<uint16_t, 4>> ReadFixedFileVersion(std::string_view block);
// The four words of the file's version resource, as above. False when the
// file has no version resource.
bool PsGetFileVersion(const std::string& fileName, uint16_t& version1, uint16_t& version2,
                      uint16_t& version3, uint16_t& version4);

// ---- Variants ---------------------------------------------------------------

enum TPsVariantClass { vcNull, vcBoolean, vcInteger, vcFloat, vcString, vcDate, vcBigInt, vcOther };

// The first 21 carry the variant type codes 0 to 20; vdtUnsupported every other.
enum TPsVarDataType {
  vdtDefault,
  vdtNull,
  vdtSmallint,
  vdtInteger,
  vdtSingle,
  vdtDouble,
  vdtCurrency,
  vdtDate,
  vdtOleStr,
  vdtDispatch,
  vdtError,
  vdtBoolean,
  vdtVariant,
  vdtUnknown,
  vdtDecimal,
  vdtUndefined,
  vdtShortint,
  vdtByte,
  vdtWord,
  vdtLongWord,
  vdtInt64,
  vdtUnsupported
};

// "Default", "Null", "Smallint", ... "Int64", "Unsupported".
std::string_view PsVarDataTypeName(TPsVarDataType type);

// By the type code's low 12 bits; the array and reference flags do not count.
TPsVariantClass VariantClass(const PsVariant& value);
bool VarHasValue(const PsVariant& value);
TPsVarDataType VarTypeToPsVarDataType(uint16_t code);
// 0 for vdtUnsupported; with `asArray` the array flag added.
uint16_t PsVarDataTypeToVarType(TPsVarDataType type, bool asArray);
// "string" for 256, the decimal code for an unsupported one, else the type's
// name; then "Array of %s" and "%s (Reference)" around it for those flags.
std::string VarTypeToText(uint16_t code);

// The display text: arrays through VarArrayToText (list separator, CR);
// "#EMPTY", "#NULL", dates with milliseconds, "Error($%x)", else the plain
// text; `withType` appends the type in braces ("#EMPTY{Default}").
std::string VariantToText(const PsVariant& value, bool withType);
// "[a,b]" for one dimension, "[<row>[a,b]<row>[c,d]]" for two, "[Array
// Dim=n]" for more; a separator of #0 is the list separator. A value that
// is no array gives its display text.
std::string VarArrayToText(const PsVariant& value, char columnSeparator, char rowSeparator);
// The product of all dimensions' lengths (1 for a value that is no array).
int64_t VarArrayElementCount(const PsVariant& value);
// The first dimension's length.
int64_t VarArrayLength(const PsVariant& value);

// Whether a written value is no change. With `strictType` the type codes
// must match. Empty and null equal each other (not strictly) and nothing
// else; arrays need equal bounds and elements. Never throws.
bool VariantsEqual(const PsVariant& a, const PsVariant& b, bool strictType);
bool VarArraysEqual(const PsVariant& a, const PsVariant& b, bool strictType);

// Bit `bit` (0 to 31) of `value`; False for other bit numbers.
bool IsBitSet(uint32_t value, int bit);
// "True" or "False", in English whatever the texts say.
std::string BoolToText(bool value);

// Hands a text through a window message: the sender detaches it into a
// pointer, the receiver takes it back over; the text is freed once, by the
// receiver. A null pointer gives the empty text.
void* StringToPointer(std::string text);
std::string PointerToString(void* pointer);

}  // namespace toolkit
