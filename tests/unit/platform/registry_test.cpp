// The in-memory registry below HKEY_LOCAL_MACHINE.
#include <cstring>

#include "platform_fixture.h"

namespace {

using RegistryTest = PlatformTest;

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;
const char16_t kRoot[] = u"System\\CurrentControlSet\\Control\\Print\\Monitors\\Velmora";

TEST_F(RegistryTest, CreateKeyMakesTheWholePathWithoutRegardToCase) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, kReadWrite, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  EXPECT_TRUE(host::RegistryKeyExists(u"SYSTEM\\currentcontrolset\\Control\\Print"));
  EXPECT_TRUE(
      host::RegistryKeyExists(u"system\\CURRENTCONTROLSET\\control\\print\\monitors\\VELMORA"));
  EXPECT_EQ(host::OpenRegistryKeys(), 1);

  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                            u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\velmora", 0,
                            nullptr, 0, KEY_READ, nullptr, &again, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  EXPECT_NE(again, key);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(again), ERROR_INVALID_HANDLE);
  EXPECT_EQ(host::OpenRegistryKeys(), 0);
}

TEST_F(RegistryTest, RefusedKeysDenyWriteAccessAndWrites) {
  host::CreateRegistryKey(kRoot);
  host::RefuseRegistryWrites(u"system\\currentcontrolset\\control\\print\\monitors\\velmora");
  HKEY key = nullptr;
  EXPECT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, kReadWrite, nullptr, &key, nullptr),
      ERROR_ACCESS_DENIED);
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, KEY_READ, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  const DWORD value = 5;
  EXPECT_EQ(RegSetValueExW(key, u"EOJTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof(value)),
            ERROR_ACCESS_DENIED);
  RegCloseKey(key);

  // A key that refuses writes also refuses new keys below it.
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (std::u16string(kRoot) + u"\\Sub").c_str(), 0,
                            nullptr, 0, KEY_READ, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);

  host::RefuseRegistryWrites(kRoot, false);
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, kReadWrite, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, u"EOJTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof(value)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, QueryValueProtocol) {
  host::SetRegistryValue(kRoot, u"EOJTimeout", REG_DWORD, {0x10, 0x27, 0, 0});
  host::SetRegistryValue(kRoot, u"Long", REG_BINARY, {1, 2, 3, 4, 5, 6});
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, kReadWrite, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  DWORD size = 0;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"eojtimeout", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

  DWORD value = 0;
  size = sizeof(value);
  EXPECT_EQ(RegQueryValueExW(key, u"EOJTimeout", nullptr, nullptr, reinterpret_cast<LPBYTE>(&value),
                             &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 10000u);

  size = sizeof(value);
  EXPECT_EQ(
      RegQueryValueExW(key, u"Long", nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);

  size = sizeof(value);
  EXPECT_EQ(
      RegQueryValueExW(key, u"Missing", nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &size),
      ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(RegistryTest, SetValueIsSeenByTheHost) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, kReadWrite, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  const DWORD value = 45000;
  ASSERT_EQ(RegSetValueExW(key, u"EOJTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof(value)),
            ERROR_SUCCESS);
  RegCloseKey(key);
  const host::RegistryValue stored = host::GetRegistryValue(kRoot, u"EOJTIMEOUT");
  ASSERT_TRUE(stored.present);
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD));
  ASSERT_EQ(stored.data.size(), 4u);
  DWORD read = 0;
  std::memcpy(&read, stored.data.data(), 4);
  EXPECT_EQ(read, 45000u);
  EXPECT_FALSE(host::GetRegistryValue(kRoot, u"Other").present);
}

TEST_F(RegistryTest, ResetEmptiesTheRegistry) {
  host::SetRegistryValue(kRoot, u"EOJTimeout", REG_DWORD, {1, 0, 0, 0});
  host::RefuseRegistryWrites(kRoot);
  host::Reset();
  EXPECT_FALSE(host::RegistryKeyExists(kRoot));
  HKEY key = nullptr;
  EXPECT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, kReadWrite, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, InvalidHandle) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234)), u"x", 0,
                            nullptr, 0, KEY_READ, nullptr, &key, nullptr),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x1234))),
            ERROR_INVALID_HANDLE);
}

}  // namespace
