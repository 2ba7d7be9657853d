// The host's view of the registry stand-in: its keys and values, refused writes, open keys and
// Reset.
#include <cstring>

#include "platform_fixture.h"

namespace {

using RegistryHostTest = PlatformTest;

const char16_t kRoot[] = u"System\\CurrentControlSet\\Control\\Print\\Monitors\\Velmora";

TEST_F(RegistryHostTest, KeysAreSeenByTheHostAndCounted) {
  HKEY key = nullptr;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, kReadWrite, nullptr, &key, nullptr),
      ERROR_SUCCESS);
  EXPECT_TRUE(host::RegistryKeyExists(u"SYSTEM\\currentcontrolset\\Control\\Print"));
  EXPECT_TRUE(
      host::RegistryKeyExists(u"system\\CURRENTCONTROLSET\\control\\print\\monitors\\VELMORA"));
  EXPECT_EQ(host::OpenRegistryKeys(), 1);
  RegCloseKey(key);
  EXPECT_EQ(host::OpenRegistryKeys(), 0);
}

TEST_F(RegistryHostTest, RefusedKeysDenyWriteAccessAndWrites) {
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

TEST_F(RegistryHostTest, SetValueIsSeenByTheHost) {
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

TEST_F(RegistryHostTest, ResetEmptiesTheRegistry) {
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

}  // namespace
