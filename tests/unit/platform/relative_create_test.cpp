// ntdll's NtCreateFile relative to a folder's handle, and an empty folder made a junction in
// place with FSCTL_SET_REPARSE_POINT while a handle holds it. Win32 and ntdll calls only; where
// the system cannot make a junction (Wine 8 answers ERROR_NOT_SUPPORTED) that part is skipped.
#include <string>

#include "platform_fixture.h"
#include "tests/support/junction.h"

namespace {

using NtCreateFileFunction = decltype(&NtCreateFile);
using NtStatusToErrorFunction = decltype(&RtlNtStatusToDosError);

constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);

class RelativeCreateTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    const HMODULE ntdll = GetModuleHandleW(WSTR("ntdll.dll"));
    ASSERT_NE(ntdll, nullptr);
    create_ = reinterpret_cast<NtCreateFileFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
    toError_ = reinterpret_cast<NtStatusToErrorFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlNtStatusToDosError")));
    ASSERT_NE(create_, nullptr);
    ASSERT_NE(toError_, nullptr);
    std::filesystem::create_directories(Path("folder"));
    std::filesystem::create_directories(Path("elsewhere"));
  }

  HANDLE OpenFolder(const std::string& name, DWORD access, DWORD share) const {
    return CreateFileW(WidePath(name).c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }

  // The file of that name in the folder behind hFolder, as the monitor opens or makes it.
  NTSTATUS CreateIn(HANDLE hFolder, const WideString& name, ULONG disposition, HANDLE* file,
                    ULONG_PTR* information = nullptr) const {
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
    text.MaximumLength = static_cast<USHORT>(text.Length + sizeof(WCHAR));
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.RootDirectory = hFolder;
    attributes.ObjectName = &text;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK io = {};
    *file = nullptr;
    const NTSTATUS status =
        create_(file, FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &io,
                nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                nullptr, 0);
    if (information != nullptr) {
      *information = io.Information;
    }
    return status;
  }

  NtCreateFileFunction create_ = nullptr;
  NtStatusToErrorFunction toError_ = nullptr;
};

TEST_F(RelativeCreateTest, MakesAndOpensByNameInsideTheFoldersHandle) {
  const HANDLE folder =
      OpenFolder("folder", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(folder, INVALID_HANDLE_VALUE);
  HANDLE file = nullptr;
  ULONG_PTR information = 0;
  ASSERT_EQ(CreateIn(folder, WSTR("new.ini"), FILE_CREATE, &file, &information), 0);
  EXPECT_EQ(information, static_cast<ULONG_PTR>(FILE_CREATED));
  EXPECT_TRUE(std::filesystem::is_regular_file(Path("folder/new.ini")));

  // Made already: the name collides, which the error of CreateFile's CREATE_NEW does not tell.
  HANDLE again = nullptr;
  const NTSTATUS collision = CreateIn(folder, WSTR("new.ini"), FILE_CREATE, &again);
  EXPECT_EQ(collision, kNameCollision);
  EXPECT_EQ(toError_(collision), static_cast<ULONG>(ERROR_ALREADY_EXISTS));
  ASSERT_EQ(CreateIn(folder, WSTR("new.ini"), FILE_OPEN, &again, &information), 0);
  EXPECT_EQ(information, static_cast<ULONG_PTR>(FILE_OPENED));
  CloseHandle(again);
  CloseHandle(file);

  // Its handle takes part in sharing as CreateFileW's do.
  const HANDLE holder = CreateFileW(WidePath("folder/new.ini").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const NTSTATUS shared = CreateIn(folder, WSTR("new.ini"), FILE_OPEN, &again);
  EXPECT_EQ(shared, kSharingViolation);
  EXPECT_EQ(toError_(shared), static_cast<ULONG>(ERROR_SHARING_VIOLATION));
  CloseHandle(holder);

  EXPECT_EQ(toError_(0), static_cast<ULONG>(ERROR_SUCCESS));
  EXPECT_FALSE(NT_SUCCESS(CreateIn(folder, WSTR("missing.ini"), FILE_OPEN, &again)));
  CloseHandle(folder);
}

// Holding a folder does not keep it from becoming a junction: FSCTL_SET_REPARSE_POINT needs no
// rename and no delete. Names through it lead to the junction's target, the held handle sees a
// reparse point, and a create relative to that handle does not go where the junction leads.
TEST_F(RelativeCreateTest, AHeldEmptyFolderBecomesAJunctionInPlace) {
  const HANDLE held = OpenFolder("folder", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const WideString target = WidePath("elsewhere");
  WriteText(Path("elsewhere/full.txt"), "x");

  // Only with a right to change the folder, and only while it is empty.
  const HANDLE reading = OpenFolder("folder", FILE_LIST_DIRECTORY, kShareAll);
  const HANDLE full = OpenFolder("elsewhere", FILE_WRITE_DATA, kShareAll);
  const bool made = langmon_test::MakeJunctionInPlace(reading, target);
  const DWORD refusal = GetLastError();
  CloseHandle(reading);
  if (!made && refusal == ERROR_NOT_SUPPORTED) {
    CloseHandle(full);
    CloseHandle(held);
    GTEST_SKIP() << "FSCTL_SET_REPARSE_POINT is not supported here";
  }
  EXPECT_FALSE(made);
  EXPECT_EQ(refusal, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(langmon_test::MakeJunctionInPlace(full, WidePath("folder")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  CloseHandle(full);

  const HANDLE writer = OpenFolder("folder", FILE_WRITE_DATA, kShareAll);
  ASSERT_TRUE(langmon_test::MakeJunctionInPlace(writer, target)) << GetLastError();
  CloseHandle(writer);
  EXPECT_EQ(GetFileAttributesW(WidePath("folder").c_str()) &
                (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY),
            static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
  BY_HANDLE_FILE_INFORMATION info;
  ASSERT_TRUE(GetFileInformationByHandle(held, &info));
  EXPECT_NE(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  EXPECT_EQ(ReadText(Path("folder/full.txt")), "x");  // by name: the target's file

  HANDLE created = nullptr;
  if (NT_SUCCESS(CreateIn(held, WSTR("new.ini"), FILE_CREATE, &created))) {
    CloseHandle(created);
  }
  EXPECT_FALSE(std::filesystem::exists(Path("elsewhere/new.ini")));
  CloseHandle(held);
}

}  // namespace
