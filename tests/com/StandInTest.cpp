// What only the native stand-in does: apartments, the registry, and sizes
// refused instead of wrapping to small blocks.
#ifndef _WIN32

#include <thread>

#include "ComTestSupport.h"

namespace {

using korva_test::NoLeaks;

TEST(StandInTest, ApartmentsAreCountedPerThread) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
  }).join();
}

TEST(StandInTest, RegistryKeysCompareWithoutCaseAndKeepTheirChildren) {
  comstandin::ClearRegistry();
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, OLESTR("Interface\\{X}"), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  const OLECHAR name[] = OLESTR("IThing");
  ASSERT_EQ(
      RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name),
      ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("interface\\{x}"), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  OLECHAR small[2];
  DWORD size = sizeof small;
  DWORD type = REG_NONE;
  EXPECT_EQ(
      RegQueryValueExW(key, OLESTR(""), nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, sizeof name);
  RegCloseKey(key);

  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, OLESTR("Interface\\{Y}"), 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  // A key with a child stays; a neighbour whose name merely begins the
  // same way does not count as one.
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, OLESTR("Interface!"), 0, nullptr, 0, KEY_WRITE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, OLESTR("Interface")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, OLESTR("Interface\\{X}")), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CLASSES_ROOT, OLESTR("Interface")), ERROR_SUCCESS);
  comstandin::ClearRegistry();
}

TEST(StandInTest, SizesThatOverflowAreRefusedWithoutAllocating) {
  const NoLeaks noLeaks;
  // 2^16 x 2^16 x 2^16 x 2^16 elements: 2^64, which wraps to 0 in 64 bits.
  SAFEARRAYBOUND bounds[4];
  for (auto& bound : bounds)
    bound = {0x10000, 0};
  EXPECT_EQ(SafeArrayCreate(VT_UI1, 4, bounds), nullptr);
  // (2^32 - 1)^2 elements fit in 64 bits; their bytes do not.
  SAFEARRAYBOUND wide[2] = {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, wide), nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0x80000000u), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, bounds), nullptr);
  EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, 4), nullptr);
}

TEST(StandInTest, NothingInProcessIsAProxyAndCallsAreUnauthenticated) {
  korva_test::CountedUnknown object;
  EXPECT_EQ(
      CoQueryProxyBlanket(&object, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
      E_NOINTERFACE);
  EXPECT_EQ(CoSetProxyBlanket(&object, RPC_C_AUTHN_WINNT, 0, nullptr, 2, 3, nullptr, 0),
            E_NOINTERFACE);
  DWORD service = 99;
  RPC_AUTHZ_HANDLE privileges = &service;
  EXPECT_EQ(
      CoQueryClientBlanket(&service, nullptr, nullptr, nullptr, nullptr, &privileges, nullptr),
      S_OK);
  EXPECT_EQ(service, RPC_C_AUTHN_NONE);
  EXPECT_EQ(privileges, nullptr);
}

}  // namespace

#endif
