// COM memory, strings, variants and safe arrays, in both builds: what one
// owns is copied deeply and freed with it, and nothing is left behind.
#include <cstring>
#include <vector>

#include "ComTestSupport.h"
#include "platform/com/ComHandles.h"

namespace {

using korva_test::CountedUnknown;
using korva_test::NoLeaks;
using platform::com::BstrPtr;
using platform::com::OleVariant;
using platform::com::SafeArrayPtr;
using platform::com::WideView;

WideView Text(BSTR text) {
  return WideView(text, SysStringLen(text));
}

TEST(ComMemoryTest, TaskMemoryIsCountedThroughAllocationResizeAndFree) {
  ASSERT_TRUE(platform::com::MemoryIsCounted());
  const platform::com::MemoryCount start = platform::com::CountLiveMemory().task;
  void* block = CoTaskMemAlloc(10);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(platform::com::CountLiveMemory().task,
            (platform::com::MemoryCount{start.blocks + 1, start.bytes + 10}));
  block = CoTaskMemRealloc(block, 30);
  EXPECT_EQ(platform::com::CountLiveMemory().task,
            (platform::com::MemoryCount{start.blocks + 1, start.bytes + 30}));
  CoTaskMemFree(block);
  EXPECT_EQ(platform::com::CountLiveMemory().task, start);
}

TEST(ComMemoryTest, StringsKeepEmbeddedZerosAndTellEmptyFromNull) {
  const NoLeaks noLeaks;
  const OLECHAR withZeros[] = {'a', 0, 'b'};
  BstrPtr text(SysAllocStringLen(withZeros, 3));
  ASSERT_TRUE(text);
  EXPECT_EQ(SysStringLen(text.get()), 3u);
  EXPECT_EQ(SysStringByteLen(text.get()), 6u);
  EXPECT_EQ(Text(text.get()), WideView(withZeros, 3));
  EXPECT_EQ(text.get()[3], 0);

  BstrPtr empty(SysAllocString(OLESTR("")));
  ASSERT_TRUE(empty);
  EXPECT_EQ(SysStringLen(empty.get()), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);

  // An odd byte length is kept as it is.
  BstrPtr bytes(SysAllocStringByteLen("abc", 3));
  EXPECT_EQ(SysStringByteLen(bytes.get()), 3u);
  EXPECT_EQ(SysStringLen(bytes.get()), 1u);
}

TEST(ComMemoryTest, VariantCopyOfAStringIsDeep) {
  const NoLeaks noLeaks;
  OleVariant source;
  source->vt = VT_BSTR;
  source->bstrVal = SysAllocString(OLESTR("Korva"));
  OleVariant copy;
  ASSERT_EQ(VariantCopy(copy.Get(), source.Get()), S_OK);
  EXPECT_NE(copy->bstrVal, source->bstrVal);
  EXPECT_EQ(VariantClear(source.Get()), S_OK);
  EXPECT_EQ(source->vt, VT_EMPTY);
  EXPECT_EQ(Text(copy->bstrVal), WideView(OLESTR("Korva")));
}

// A copy through a reference is the referenced value's own copy, and a copy
// of a value that is no reference is a plain copy.
TEST(ComMemoryTest, VariantCopyIndCopiesWhatAReferencePointsTo) {
  const NoLeaks noLeaks;
  double number = 2.5;
  BSTR text = SysAllocString(OLESTR("Korva"));
  OleVariant inner;
  inner->vt = VT_I2;
  inner->iVal = -7;
  OleVariant byNumber;
  byNumber->vt = VT_BYREF | VT_R8;
  byNumber->pdblVal = &number;
  OleVariant byText;
  byText->vt = VT_BYREF | VT_BSTR;
  byText->pbstrVal = &text;
  OleVariant byVariant;
  byVariant->vt = VT_BYREF | VT_VARIANT;
  byVariant->pvarVal = inner.Get();

  OleVariant copy;
  ASSERT_EQ(VariantCopyInd(copy.Get(), byNumber.Get()), S_OK);
  EXPECT_EQ(copy->vt, VT_R8);
  EXPECT_EQ(copy->dblVal, 2.5);
  ASSERT_EQ(VariantCopyInd(copy.Get(), byText.Get()), S_OK);
  ASSERT_EQ(copy->vt, VT_BSTR);
  EXPECT_NE(copy->bstrVal, text);
  SysFreeString(text);
  EXPECT_EQ(Text(copy->bstrVal), WideView(OLESTR("Korva")));
  ASSERT_EQ(VariantCopyInd(copy.Get(), byVariant.Get()), S_OK);
  EXPECT_EQ(copy->vt, VT_I2);
  EXPECT_EQ(copy->iVal, -7);
  ASSERT_EQ(VariantCopyInd(copy.Get(), inner.Get()), S_OK);
  EXPECT_EQ(copy->iVal, -7);
  OleVariant twice;
  twice->vt = VT_BYREF | VT_VARIANT;
  twice->pvarVal = byVariant.Get();
  EXPECT_EQ(VariantCopyInd(copy.Get(), twice.Get()), E_INVALIDARG);
#ifndef _WIN32
  // Windows reads through a reference to nothing; the stand-in refuses it.
  OleVariant toNothing;
  toNothing->vt = VT_BYREF | VT_I4;
  EXPECT_EQ(VariantCopyInd(copy.Get(), toNothing.Get()), E_INVALIDARG);
#endif
}

TEST(ComMemoryTest, VariantsHoldOneReferenceOfTheirInterface) {
  CountedUnknown object;
  {
    OleVariant held;
    held->vt = VT_UNKNOWN;
    held->punkVal = &object;
    object.AddRef();
    OleVariant copy;
    ASSERT_EQ(VariantCopy(copy.Get(), held.Get()), S_OK);
    EXPECT_EQ(object.references, 3u);
  }
  EXPECT_EQ(object.references, 1u);
}

TEST(ComMemoryTest, ATwoByTwoArrayOfVariantsCopiesAndFreesItsStrings) {
  const NoLeaks noLeaks;
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  OleVariant source;
  source->vt = VT_ARRAY | VT_VARIANT;
  source->parray = SafeArrayCreate(VT_VARIANT, 2, bounds);
  ASSERT_NE(source->parray, nullptr);
  const OLECHAR* texts[] = {OLESTR("a"), OLESTR("b"), OLESTR("c"), OLESTR("d")};
  for (LONG i = 0; i < 4; ++i) {
    LONG at[2] = {i % 2, i / 2};
    OleVariant element;
    element->vt = VT_BSTR;
    element->bstrVal = SysAllocString(texts[i]);
    ASSERT_EQ(SafeArrayPutElement(source->parray, at, element.Get()), S_OK);
  }
  OleVariant copy;
  ASSERT_EQ(VariantCopy(copy.Get(), source.Get()), S_OK);
  ASSERT_NE(copy->parray, source->parray);
  VariantClear(source.Get());
  for (LONG i = 0; i < 4; ++i) {
    LONG at[2] = {i % 2, i / 2};
    OleVariant element;
    ASSERT_EQ(SafeArrayGetElement(copy->parray, at, element.Get()), S_OK);
    EXPECT_EQ(Text(element->bstrVal), WideView(texts[i]));
  }
}

TEST(ComMemoryTest, ArraysOfStringsAndInterfacesFreeWhatTheyHold) {
  const NoLeaks noLeaks;
  CountedUnknown object;
  {
    SafeArrayPtr strings(SafeArrayCreateVector(VT_BSTR, 1, 2));
    SafeArrayPtr objects(SafeArrayCreateVector(VT_UNKNOWN, 0, 2));
    LONG at = 2;
    BstrPtr text(SysAllocString(OLESTR("copied in")));
    ASSERT_EQ(SafeArrayPutElement(strings.get(), &at, text.get()), S_OK);
    // Putting again frees the string put before.
    ASSERT_EQ(SafeArrayPutElement(strings.get(), &at, text.get()), S_OK);
    at = 1;
    ASSERT_EQ(SafeArrayPutElement(objects.get(), &at, static_cast<IUnknown*>(&object)), S_OK);
    EXPECT_EQ(object.references, 2u);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(objects.get(), &copy), S_OK);
    EXPECT_EQ(object.references, 3u);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
  }
  EXPECT_EQ(object.references, 1u);
}

// The layout other programs read: bounds kept last dimension first,
// elements with the first index running fastest.
TEST(ComMemoryTest, ArrayLayoutBoundsAndLocks) {
  const NoLeaks noLeaks;
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {3, 1}};
  SAFEARRAY* array = SafeArrayCreate(VT_I4, 2, bounds);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(SafeArrayGetDim(array), 2u);
  EXPECT_EQ(SafeArrayGetElemsize(array), 4u);
  EXPECT_EQ(array->rgsabound[0].cElements, 3u);
  EXPECT_EQ(array->rgsabound[0].lLbound, 1);
  LONG bound = 0;
  EXPECT_EQ(SafeArrayGetLBound(array, 2, &bound), S_OK);
  EXPECT_EQ(bound, 1);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &bound), S_OK);
  EXPECT_EQ(bound, 1);
  EXPECT_EQ(SafeArrayGetUBound(array, 3, &bound), DISP_E_BADINDEX);
  VARTYPE type = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(array, &type), S_OK);
  EXPECT_EQ(type, VT_I4);

  LONG at[2] = {1, 3};
  LONG value = 42;
  ASSERT_EQ(SafeArrayPutElement(array, at, &value), S_OK);
  LONG outside[2] = {2, 1};
  EXPECT_EQ(SafeArrayPutElement(array, outside, &value), DISP_E_BADINDEX);

  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
  EXPECT_EQ(static_cast<LONG*>(data)[1 + (3 - 1) * 2], 42);
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(ComMemoryTest, GlobalBlocksAreFixedAndFreed) {
  const NoLeaks noLeaks;
  HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 20);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalLock(block), block);
  EXPECT_GE(GlobalSize(block), 20u);
  EXPECT_EQ(static_cast<BYTE*>(block)[19], 0);
  GlobalUnlock(block);
  EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(ComMemoryTest, GuidTextRoundTripAcceptsLowerCaseAndRefusesShortText) {
  const GUID korvamon = {
      0x926B1231, 0xE7E1, 0x4241, {0x86, 0x3C, 0x7A, 0xA5, 0xC5, 0xAB, 0xFC, 0xDF}};
  OLECHAR text[39];
  ASSERT_EQ(StringFromGUID2(korvamon, text, 39), 39);
  EXPECT_EQ(WideView(text), WideView(OLESTR("{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}")));
  EXPECT_EQ(platform::com::GuidToString(korvamon), "{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}");
  EXPECT_EQ(StringFromGUID2(korvamon, text, 38), 0);

  CLSID parsed = GUID_NULL;
  ASSERT_EQ(CLSIDFromString(text, &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, korvamon));
  parsed = GUID_NULL;
  ASSERT_EQ(CLSIDFromString(OLESTR("{926b1231-e7e1-4241-863c-7aa5c5abfcdf}"), &parsed), S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, korvamon));
  EXPECT_EQ(CLSIDFromString(OLESTR("{926B1231}"), &parsed), CO_E_CLASSSTRING);
  EXPECT_TRUE(FAILED(IIDFromString(OLESTR("{926B1231}"), &parsed)));
}

}  // namespace
