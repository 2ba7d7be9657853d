// The registry below HKEY_LOCAL_MACHINE: keys, values and handles.
#include <cstring>
#include <cwctype>

#include "platform_fixture.h"

namespace {

class RegistryTest : public PlatformTest {
 protected:
  // The monitor's key, below the test's own.
  WideString MonitorKey() const {
    return RegistryKey() + WSTR("\\Control\\Print\\Monitors\\Velmora");
  }
  static WideString OtherCase(WideString path) {
    for (WCHAR& c : path)
      c = static_cast<WCHAR>(std::iswupper(c) ? std::towlower(c) : std::towupper(c));
    return path;
  }
  static LSTATUS Create(const WideString& path, REGSAM access, HKEY* key,
                        DWORD* disposition = nullptr) {
    return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, access, nullptr, key,
                           disposition);
  }
  static LSTATUS SetDword(HKEY key, const WCHAR* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof(value));
  }
};

TEST_F(RegistryTest, CreateKeyMakesTheWholePathWithoutRegardToCase) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(Create(MonitorKey(), kReadWrite, &key, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));

  // Every key on the way is there, whatever the case of its name.
  HKEY print = nullptr;
  ASSERT_EQ(
      Create(OtherCase(RegistryKey() + WSTR("\\Control\\Print")), KEY_READ, &print, &disposition),
      ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_EQ(RegCloseKey(print), ERROR_SUCCESS);

  HKEY again = nullptr;
  ASSERT_EQ(Create(OtherCase(MonitorKey()), KEY_READ, &again, &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_NE(again, key);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(again), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, QueryValueProtocol) {
  HKEY key = nullptr;
  ASSERT_EQ(Create(MonitorKey(), kReadWrite, &key), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, WSTR("EOJTimeout"), 10000), ERROR_SUCCESS);
  const BYTE six[] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(RegSetValueExW(key, WSTR("Long"), 0, REG_BINARY, six, sizeof(six)), ERROR_SUCCESS);

  DWORD size = 0;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(key, WSTR("eojtimeout"), nullptr, &type, nullptr, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

  DWORD value = 0;
  size = sizeof(value);
  EXPECT_EQ(RegQueryValueExW(key, WSTR("EOJTimeout"), nullptr, nullptr,
                             reinterpret_cast<LPBYTE>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 10000u);

  size = sizeof(value);
  EXPECT_EQ(RegQueryValueExW(key, WSTR("Long"), nullptr, nullptr, reinterpret_cast<LPBYTE>(&value),
                             &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);

  size = sizeof(value);
  EXPECT_EQ(RegQueryValueExW(key, WSTR("Missing"), nullptr, nullptr,
                             reinterpret_cast<LPBYTE>(&value), &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryTest, AValueSetThroughOneHandleIsReadThroughAnother) {
  HKEY key = nullptr;
  ASSERT_EQ(Create(MonitorKey(), kReadWrite, &key), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, WSTR("EOJTimeout"), 45000), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, WSTR("EOJTIMEOUT"), 45001), ERROR_SUCCESS);  // the same value
  RegCloseKey(key);

  ASSERT_EQ(Create(OtherCase(MonitorKey()), KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(SetDword(key, WSTR("EOJTimeout"), 1), ERROR_ACCESS_DENIED);  // opened for reading
  BYTE data[8] = {};
  DWORD size = sizeof(data);
  DWORD type = REG_NONE;
  ASSERT_EQ(RegQueryValueExW(key, WSTR("eojtimeout"), nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  ASSERT_EQ(size, 4u);
  DWORD read = 0;
  std::memcpy(&read, data, 4);
  EXPECT_EQ(read, 45001u);
  RegCloseKey(key);
}

TEST_F(RegistryTest, InvalidHandle) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), WSTR("x"), 0,
                            nullptr, 0, KEY_READ, nullptr, &key, nullptr),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234))),
            ERROR_INVALID_HANDLE);
}

}  // namespace
