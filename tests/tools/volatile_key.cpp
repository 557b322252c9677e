// Makes a key under HKEY_CLASSES_ROOT that the registry keeps only while it
// runs (until the prefix's server ends): no lasting key can be made below it,
// so whatever registers there fails as where its writes are refused.
//
//   volatile_key <key>   0 when the key was made new
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, argv[1], 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE,
                      nullptr, &key, &disposition) != ERROR_SUCCESS)
    return 1;
  RegCloseKey(key);
  return disposition == REG_CREATED_NEW_KEY ? 0 : 1;
}
