// The OPC side of the toolkit: result-code texts, the exceptions and the
// result code each one gives a client, quality words, the memory handed to
// clients, and the conversions between the toolkit's variants and COM's.
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "../com/ComTestSupport.h"
#include "opcserver/PsOPC.h"
#include "toolkit/PsUtils.h"

namespace {

using korva_test::NoLeaks;
using opcserver::TPsOPCAlloc;
using platform::com::OleVariant;
using toolkit::PsVariant;

// What a text without the system's message reads like here.
std::string UnknownCodeText(HRESULT code, const std::string& fallback) {
  const std::string system = platform::com::SystemMessageText(code);
  return system.empty() ? fallback : system;
}

TEST(PsOPCTest, CodesHaveTheirShortAndLongTexts) {
  EXPECT_EQ(opcserver::GetReason(S_OK), "OK");
  EXPECT_EQ(opcserver::GetReason(OPC_E_UNKNOWNITEMID), "Unknown ItemID");
  EXPECT_EQ(opcserver::GetReason(OPC_E_INVALID_PID), "Invalid Property ID");
  EXPECT_EQ(opcserver::GetDetails(OPC_E_BADRIGHTS),
            "The Items AccessRights do not allow the operation.");
  const auto unknown = static_cast<HRESULT>(0xC0040002);
  EXPECT_EQ(opcserver::GetReason(unknown), UnknownCodeText(unknown, "OLE-Fehler C0040002"));
  EXPECT_EQ(opcserver::GetDetails(unknown), "No more info available.");
  // The system's texts come without the line end they are stored with.
  const std::string failed = opcserver::GetReason(E_FAIL);
  ASSERT_FALSE(failed.empty());
  EXPECT_GT(static_cast<unsigned char>(failed.back()), ' ');
}

// Handles are unsigned, codes in two's complement; a call without its
// array logs none.
TEST(PsOPCTest, HandlesAndCodesAreListedForLogLines) {
  const OPCHANDLE handles[] = {7, 0xFFFFFFFF};
  const HRESULT errors[] = {S_OK, OPC_E_BADRIGHTS};
  EXPECT_EQ(opcserver::HandleListText(handles, 2), "7,4294967295");
  EXPECT_EQ(opcserver::HandleListText(handles, 1), "7");
  EXPECT_EQ(opcserver::HandleListText(handles, 0), "");
  EXPECT_EQ(opcserver::HandleListText(nullptr, 2), "");
  EXPECT_EQ(opcserver::ErrorListText(errors, 2), "$0,$C0040006");
  EXPECT_EQ(opcserver::ErrorListText(nullptr, 2), "");
}

TEST(PsOPCTest, EveryExceptionGivesItsResultCode) {
  struct Case {
    const char* what;
    std::function<void()> raise;
    HRESULT expected;
  };
  const Case cases[] = {
      {"OLE error", [] { throw opcserver::EOleSysError("", E_ACCESSDENIED); }, E_ACCESSDENIED},
      {"OPC error", [] { throw opcserver::EPsOPCError(OPC_E_PUBLIC, "", "Read", IID_IUnknown); },
       OPC_E_PUBLIC},
      {"invalid item", [] { throw opcserver::EPsOPCProviderInvalidItemID(); }, OPC_E_INVALIDITEMID},
      {"unknown item", [] { throw opcserver::EPsOPCProviderUnknownItemID("Korva/x"); },
       OPC_E_UNKNOWNITEMID},
      {"provider error", [] { throw opcserver::EPsOPCProviderError(E_INVALIDARG, "%d", 5); },
       E_INVALIDARG},
      {"out of memory", [] { throw vcl::EOutOfMemory("x"); }, E_OUTOFMEMORY},
      {"bad_alloc", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY},
      {"list error", [] { throw vcl::EListError("x"); }, E_INVALIDARG},
      {"string table", [] { throw toolkit::EPsStringTableError("x"); }, E_INVALIDARG},
      {"invalid argument", [] { throw opcserver::EPsOPCProviderInvalidArg("x"); }, E_INVALIDARG},
      {"browse position",
       [] { throw opcserver::EPsOPCProviderAddressSpaceException("Not a valid position."); },
       E_INVALIDARG},
      {"interface cast", [] { throw vcl::EIntfCastError("x"); }, E_NOINTERFACE},
      {"read-only", [] { throw toolkit::EPsReadOnly("PsX is read-only"); }, OPC_E_BADRIGHTS},
      {"group name", [] { throw opcserver::EPsOPCProviderGroupDuplicateName("x"); },
       OPC_E_DUPLICATENAME},
      {"variable range", [] { throw toolkit::EPsRangeError("x"); }, OPC_E_RANGE},
      {"overflow", [] { throw vcl::EOverflow("x"); }, OPC_E_RANGE},
      {"integer overflow", [] { throw vcl::EIntOverflow("x"); }, OPC_E_RANGE},
      {"variant overflow", [] { PsVariant(70000).CastTo(toolkit::varSmallint); }, OPC_E_RANGE},
      {"division", [] { throw vcl::EZeroDivide("x"); }, OPC_E_RANGE},
      {"conversion", [] { vcl::StrToInt("x"); }, OPC_E_BADTYPE},
      {"variable", [] { throw toolkit::EPsVarException("x"); }, OPC_E_BADTYPE},
      {"variant", [] { PsVariant("x").AsInt32(); }, OPC_E_BADTYPE},
      {"abort", [] { throw vcl::EAbort(""); }, E_FAIL},
      {"server", [] { throw opcserver::EPsOPCProviderException("x"); }, E_FAIL},
      {"standard", [] { throw std::runtime_error("x"); }, E_FAIL},
      {"int", [] { throw 42; }, E_FAIL},
  };
  for (const Case& c : cases)
    EXPECT_EQ(opcserver::ComGuard([&] { c.raise(); }), c.expected) << c.what;
}

TEST(PsOPCTest, AnOPCErrorsMessageIsPutTogetherAsText) {
  const std::string name = opcserver::GetInterfaceName(IID_IOPCSyncIO);
  const opcserver::EPsOPCError plain(OPC_E_UNKNOWNITEMID, "", "Read%s", IID_IOPCSyncIO);
  EXPECT_EQ(plain.Message(), "OPC Error in method " + name +
                                 ".Read%s\rCode: $C0040007 (Unknown ItemID)\rDetails: The item "
                                 "is no longer available in the server address space.");
  EXPECT_EQ(plain.GetReason(), "Unknown ItemID");
  const opcserver::EPsOPCError reasoned(OPC_E_RANGE, "100% %s", "Write", IID_IOPCSyncIO);
  EXPECT_EQ(reasoned.Message(), "OPC Error in method " + name +
                                    ".Write\rCode: $C004000B (100% %s)\rDetails: The value was "
                                    "out of range.");
  EXPECT_EQ(reasoned.GetReason(), "100% %s");
  EXPECT_EQ(reasoned.ErrorCode(), OPC_E_RANGE);
}

TEST(PsOPCTest, QualityWordsReadAsText) {
  struct Case {
    WORD quality;
    const char* text;
  };
  const Case cases[] = {
      {0xD8, "Good;Local override;Not limited"},
      {0x43, "Uncertain;Non-specific;Constant"},
      {0x80, "N/A;;Not limited"},
      {0x00, "Bad;Non-specific;Not limited"},
      {0x1D, "Bad;Out of service;At Low limit"},
      {0x20, "Bad;N/A;Not limited"},
      {0x56, "Uncertain;Limits exceeded;At High limit"},
      {0x48, "Uncertain;N/A;Not limited"},
      {0xC4, "Good;N/A;Not limited"},
      // The high byte is the vendor's.
      {0x1C0, "Good;Non-specific;Not limited"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(opcserver::OPCQualityText(c.quality), c.text) << c.quality;

  EXPECT_EQ(opcserver::PsVarQualityToOPCQuality(toolkit::vpqBad), 0x00);
  EXPECT_EQ(opcserver::PsVarQualityToOPCQuality(toolkit::vpqUncertain), 0x40);
  EXPECT_EQ(opcserver::PsVarQualityToOPCQuality(toolkit::vpqGood), 0xC0);
  try {
    opcserver::PsVarQualityToOPCQuality(static_cast<toolkit::TPsVarQuality>(3));
    FAIL() << "an unknown quality passed";
  } catch (const opcserver::EPsOPCException& error) {
    EXPECT_STREQ(error.what(), "Unknown VarQuality (3) for PsVarQualityToOPCQuality");
  }
}

TEST(PsOPCTest, ClearedMemoryStaysInsideItsBlock) {
  const NoLeaks noLeaks;
  void* block = nullptr;
  TPsOPCAlloc::AllocMem(block, 8);
  std::memset(block, 0xAB, 8);
  // Growing keeps what was there and clears from the offset on.
  TPsOPCAlloc::CAllocMem(block, 16, 8);
  // A resize may move the block.
  const auto byte = [&block](int at) { return static_cast<const unsigned char*>(block)[at]; };
  EXPECT_EQ(byte(7), 0xAB);
  EXPECT_EQ(byte(8), 0);
  EXPECT_EQ(byte(15), 0);
  std::memset(block, 0xAB, 16);
  TPsOPCAlloc::CAllocMem(block, 16, 16);
  EXPECT_EQ(byte(15), 0xAB);
  TPsOPCAlloc::CAllocMem(block, 16, 100);
  EXPECT_EQ(byte(15), 0xAB);
  TPsOPCAlloc::CAllocMem(block, 16, 0);
  EXPECT_EQ(byte(0) | byte(15), 0);

  void* const before = block;
  EXPECT_THROW(TPsOPCAlloc::CAllocMem(block, 16, -1), vcl::ERangeError);
  EXPECT_THROW(TPsOPCAlloc::AllocMem(block, -1), vcl::ERangeError);
  EXPECT_EQ(block, before);
  TPsOPCAlloc::AllocMem(block, 0);
  EXPECT_EQ(block, nullptr);
}

TEST(PsOPCTest, ListsAreLimitedBeforeAnythingIsAllocated) {
  const NoLeaks noLeaks;
  HRESULT* results = nullptr;
  TPsOPCAlloc::AllocList(results, TPsOPCAlloc::MaxListCount);
  EXPECT_EQ(results[TPsOPCAlloc::MaxListCount - 1], S_OK);
  TPsOPCAlloc::FreeResultList(results);
  EXPECT_EQ(results, nullptr);
  for (const int64_t count : {TPsOPCAlloc::MaxListCount + 1, int64_t{1} << 61, int64_t{-1}}) {
    OPCITEMSTATE* states = nullptr;
    EXPECT_THROW(TPsOPCAlloc::AllocItemStateList(states, count), vcl::ERangeError) << count;
    EXPECT_EQ(states, nullptr);
  }

  // Freed with the values the entries hold.
  OPCITEMSTATE* states = nullptr;
  TPsOPCAlloc::AllocItemStateList(states, 2);
  EXPECT_EQ(states[1].vDataValue.vt, VT_EMPTY);
  opcserver::PsVariantToVariant(PsVariant("value"), states[1].vDataValue);
  TPsOPCAlloc::FreeItemStateList(states, 2);
  EXPECT_EQ(states, nullptr);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVA_NO_HUGE_ALLOCATIONS
#endif
#endif
#ifndef KORVA_NO_HUGE_ALLOCATIONS
TEST(PsOPCTest, AFailedAllocationKeepsTheBlock) {
  const NoLeaks noLeaks;
  void* block = nullptr;
  TPsOPCAlloc::AllocMem(block, 4);
  void* const before = block;
  try {
    TPsOPCAlloc::AllocMem(block, int64_t{1} << 50);
    FAIL() << "a petabyte was allocated";
  } catch (const vcl::EOutOfMemory& error) {
    EXPECT_STREQ(error.what(), "CoTaskMemAlloc failed to allocate 1125899906842624 bytes.");
  }
  EXPECT_EQ(block, before);
  TPsOPCAlloc::FreeMem(block);
}
#endif

// The toolkit's value through a COM variant and back.
PsVariant RoundTrip(const PsVariant& value, VARTYPE expectedType) {
  OleVariant com;
  opcserver::PsVariantToVariant(value, *com);
  EXPECT_EQ(com->vt, expectedType) << toolkit::VariantToText(value, true);
  return opcserver::VariantToPsVariant(*com);
}

TEST(PsOPCTest, ScalarsKeepTheirTypeAndValue) {
  const NoLeaks noLeaks;
  struct Case {
    PsVariant value;
    VARTYPE type;
  };
  const Case cases[] = {
      {PsVariant(), VT_EMPTY},
      {PsVariant::Null(), VT_NULL},
      {PsVariant::Shortint(-8), VT_I1},
      {PsVariant::Byte(200), VT_UI1},
      {PsVariant::Smallint(-30000), VT_I2},
      {PsVariant::Word(60000), VT_UI2},
      {PsVariant(int32_t{-2000000000}), VT_I4},
      {PsVariant(uint32_t{4000000000}), VT_UI4},
      {PsVariant(int64_t{-9000000000000000000}), VT_I8},
      {PsVariant::Single(1.5f), VT_R4},
      {PsVariant(0.1), VT_R8},
      // Beyond what a double holds to the ten-thousandth.
      {PsVariant::CurrencyScaled(9000000000000000001), VT_CY},
      {PsVariant::Date(45000.25), VT_DATE},
      {PsVariant::Error(static_cast<int32_t>(0x80004005)), VT_ERROR},
      {PsVariant(true), VT_BOOL},
      {PsVariant::OleStr("Grüße"), VT_BSTR},
  };
  for (const Case& c : cases) {
    const PsVariant back = RoundTrip(c.value, c.type);
    EXPECT_TRUE(toolkit::VariantsEqual(back, c.value, true)) << toolkit::VariantToText(back, true);
  }
  OleVariant com;
  opcserver::PsVariantToVariant(PsVariant(true), *com);
  EXPECT_EQ(com->boolVal, VARIANT_TRUE);
  // The toolkit's own texts are BSTRs too; embedded zeros are kept.
  opcserver::PsVariantToVariant(PsVariant(std::string("a\0\xC3\xBC", 4)), *com);
  ASSERT_EQ(com->vt, VT_BSTR);
  EXPECT_EQ(platform::com::WideView(com->bstrVal, SysStringLen(com->bstrVal)),
            platform::com::WideView(OLESTR("a\0\u00FC"), 3));
  EXPECT_EQ(opcserver::VariantToPsVariant(*com).VarType(), toolkit::varOleStr);
  opcserver::PsVariantToVariant(PsVariant(""), *com);
  EXPECT_NE(com->bstrVal, nullptr);
  // What the variant held before is freed.
  opcserver::PsVariantToVariant(PsVariant(int32_t{5}), *com);
  EXPECT_EQ(com->vt, VT_I4);
  EXPECT_EQ(com->lVal, 5);
}

TEST(PsOPCTest, ArraysKeepTheirBounds) {
  const NoLeaks noLeaks;
  PsVariant matrix = PsVariant::Array({{1, 2}, {-1, 1}}, toolkit::varInteger);
  for (int32_t i = 1; i <= 2; ++i)
    for (int32_t j = -1; j <= 1; ++j)
      matrix.PutElement({i, j}, 10 * i + j);
  OleVariant com;
  opcserver::PsVariantToVariant(matrix, *com);
  ASSERT_EQ(com->vt, VT_ARRAY | VT_I4);
  ASSERT_EQ(SafeArrayGetDim(com->parray), 2u);
  LONG bound = 0;
  SafeArrayGetLBound(com->parray, 2, &bound);
  EXPECT_EQ(bound, -1);
  SafeArrayGetUBound(com->parray, 1, &bound);
  EXPECT_EQ(bound, 2);
  LONG at[2] = {2, -1};
  LONG element = 0;
  ASSERT_EQ(SafeArrayGetElement(com->parray, at, &element), S_OK);
  EXPECT_EQ(element, 19);
  EXPECT_TRUE(toolkit::VarArraysEqual(opcserver::VariantToPsVariant(*com), matrix, true));

  // Variants within variants, texts and arrays among them.
  PsVariant inner = PsVariant::Array({{5, 6}}, toolkit::varString);
  inner.PutElement({6}, PsVariant("six"));
  const PsVariant mixed = PsVariant::ArrayOf({PsVariant(true), PsVariant("text"), inner});
  const PsVariant back = RoundTrip(mixed, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(toolkit::VarArrayToText(back, ',', ';'), toolkit::VarArrayToText(mixed, ',', ';'));
  EXPECT_EQ(back.GetElement({2}).LowBound(1), 5);
  EXPECT_EQ(back.GetElement({2}).VarType(), toolkit::varArray | toolkit::varOleStr);
}

TEST(PsOPCTest, OddVariantsFromClientsAreRefused) {
  const NoLeaks noLeaks;
  LONG referenced = 7;
  OleVariant byReference;
  byReference->vt = VT_BYREF | VT_I4;
  byReference->plVal = &referenced;
  EXPECT_EQ(opcserver::VariantToPsVariant(*byReference).AsInt32(), 7);

  korva_test::CountedUnknown object;
  OleVariant unknown;
  unknown->vt = VT_UNKNOWN;
  unknown->punkVal = &object;
  object.AddRef();
  OleVariant wrongSize;
  wrongSize->vt = VT_ARRAY | VT_I4;
  wrongSize->parray = SafeArrayCreateVector(VT_I2, 0, 4);
  OleVariant noArray;
  noArray->vt = VT_ARRAY | VT_BSTR;
  VARIANT selfReference;
  selfReference.vt = VT_BYREF | VT_VARIANT;
  selfReference.pvarVal = &selfReference;
  OleVariant nowhere;
  nowhere->vt = VT_BYREF | VT_R8;
  OleVariant plainVariant;
  plainVariant->vt = VT_VARIANT;
  OleVariant huge;
  huge->vt = VT_UI8;
  huge->ullVal = uint64_t{1} << 63;

  struct Case {
    const char* what;
    const VARIANT* value;
    HRESULT expected;
  };
  const Case cases[] = {
      {"interface", unknown.Get(), OPC_E_BADTYPE},
      {"elements of another size", wrongSize.Get(), OPC_E_BADTYPE},
      {"array without an array", noArray.Get(), OPC_E_BADTYPE},
      {"reference to itself", &selfReference, OPC_E_BADTYPE},
      {"reference to nothing", nowhere.Get(), OPC_E_BADTYPE},
      {"variant as data", plainVariant.Get(), OPC_E_BADTYPE},
      {"unsigned beyond int64", huge.Get(), OPC_E_RANGE},
  };
  for (const Case& c : cases)
    EXPECT_EQ(opcserver::ComGuard([&] { opcserver::VariantToPsVariant(*c.value); }), c.expected)
        << c.what;
}

}  // namespace
