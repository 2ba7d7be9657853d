// The resources compiled into the real DLL: the string table, the alignment progress dialog and
// the version block, read back through the Windows resource functions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "resources/resource_ids.h"
#include "tests/wine/host.h"

namespace {

struct Text {
  UINT id;
  const wchar_t* text;
};

const Text kTexts[] = {
#define MONITOR_TEXT(id, text) {id, L"" text},
#include "resources/texts.inc"
#undef MONITOR_TEXT
};

constexpr WORD kUsEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
// The prompt routine loads texts into a 320-character buffer, captions into 50.
constexpr int kTextBufferLength = 320;

TEST(StringTable, HoldsEveryTextInUsEnglishUnchanged) {
  ASSERT_GT(std::size(kTexts), 0u);
  for (const Text& entry : kTexts) {
    SCOPED_TRACE(entry.id);
    EXPECT_NE(FindResourceExW(Monitor().module, MAKEINTRESOURCEW(6),
                              MAKEINTRESOURCEW(entry.id / 16 + 1), kUsEnglish),
              nullptr);
    // With a zero-length buffer LoadStringW hands out the resource text itself, uncut.
    const wchar_t* stored = nullptr;
    int length = LoadStringW(Monitor().module, entry.id, reinterpret_cast<LPWSTR>(&stored), 0);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::wstring(stored, length), std::wstring(entry.text));
    EXPECT_LT(length, kTextBufferLength) << "would be cut when shown";
  }
  wchar_t caption[50];
  EXPECT_GT(LoadStringW(Monitor().module, IDS_MONITOR_CAPTION, caption, 50), 0);
  EXPECT_STREQ(caption, L"Language Monitor");
}

TEST(StringTable, HasNoTextForTheAlignmentFailure) {
  wchar_t buffer[kTextBufferLength];
  EXPECT_EQ(LoadStringW(Monitor().module, IDS_ALIGN_FAILED, buffer, kTextBufferLength), 0);
}

// Reads a dialog template the way the dialog manager does.
class TemplateReader {
 public:
  TemplateReader(const BYTE* data, DWORD size) : data_(data), size_(size) {}

  template <typename T>
  T Read() {
    T value{};
    if (offset_ + sizeof(T) <= size_) {
      std::memcpy(&value, data_ + offset_, sizeof(T));
    }
    offset_ += sizeof(T);
    return value;
  }
  // A string, or an ordinal (0xFFFF then the number) written as "#number"; empty for 0x0000.
  std::wstring ReadSzOrOrdinal() {
    WORD first = Read<WORD>();
    if (first == 0xFFFF) {
      return L"#" + std::to_wstring(Read<WORD>());
    }
    std::wstring text;
    for (WORD c = first; c != 0 && offset_ <= size_; c = Read<WORD>()) {
      text.push_back(static_cast<wchar_t>(c));
    }
    return text;
  }
  void AlignToDword() { offset_ = (offset_ + 3) & ~size_t{3}; }
  size_t Offset() const { return offset_; }

 private:
  const BYTE* data_;
  DWORD size_;
  size_t offset_ = 0;
};

TEST(AlignProgressDialog, IsThePlainTemplateWithOneStaticText) {
  HRSRC found = FindResourceExW(Monitor().module, MAKEINTRESOURCEW(5),
                                MAKEINTRESOURCEW(IDD_ALIGN_PROGRESS), kUsEnglish);
  ASSERT_NE(found, nullptr);
  HGLOBAL loaded = LoadResource(Monitor().module, found);
  ASSERT_NE(loaded, nullptr);
  const DWORD size = SizeofResource(Monitor().module, found);
  TemplateReader reader(static_cast<const BYTE*>(LockResource(loaded)), size);

  // DLGTEMPLATE, not DLGTEMPLATEEX (which would start with version 1 and 0xFFFF).
  EXPECT_EQ(reader.Read<DWORD>(), 0x80C800C0u);  // style
  EXPECT_EQ(reader.Read<DWORD>(), 0u);           // extended style
  EXPECT_EQ(reader.Read<WORD>(), 1u);            // controls
  EXPECT_EQ(reader.Read<SHORT>(), 0);
  EXPECT_EQ(reader.Read<SHORT>(), 0);
  EXPECT_EQ(reader.Read<SHORT>(), 235);
  EXPECT_EQ(reader.Read<SHORT>(), 55);
  EXPECT_EQ(reader.ReadSzOrOrdinal(), L"");  // no menu
  EXPECT_EQ(reader.ReadSzOrOrdinal(), L"");  // default dialog class
  EXPECT_EQ(reader.ReadSzOrOrdinal(), L"Aligning the Printer...");
  EXPECT_EQ(reader.Read<WORD>(), 8u);  // point size, present because of DS_SETFONT
  EXPECT_EQ(reader.ReadSzOrOrdinal(), L"MS Shell Dlg");

  reader.AlignToDword();
  EXPECT_EQ(reader.Read<DWORD>(), 0x50020000u);  // WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT
  EXPECT_EQ(reader.Read<DWORD>(), 0u);
  EXPECT_EQ(reader.Read<SHORT>(), 20);
  EXPECT_EQ(reader.Read<SHORT>(), 15);
  EXPECT_EQ(reader.Read<SHORT>(), 200);
  EXPECT_EQ(reader.Read<SHORT>(), 32);
  EXPECT_EQ(reader.Read<WORD>(), IDC_ALIGN_PROGRESS_TEXT);
  EXPECT_EQ(reader.ReadSzOrOrdinal(), L"#130");  // the predefined Static class
  EXPECT_EQ(reader.ReadSzOrOrdinal(), L"Aligning the Printer...");
  EXPECT_EQ(reader.Read<WORD>(), 0u);  // no creation data
  EXPECT_LE(reader.Offset(), size);
}

TEST(VersionBlock, CarriesTheProjectVersion) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(Monitor().path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(Monitor().path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedLength = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedLength));
  EXPECT_EQ(fixed->dwFileVersionMS,
            static_cast<DWORD>(MAKELONG(LANGMON_TEST_VERSION_MINOR, LANGMON_TEST_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, LANGMON_TEST_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  wchar_t* product = nullptr;
  UINT productLength = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                             reinterpret_cast<void**>(&product), &productLength));
  EXPECT_NE(std::wstring(product).find(L"language monitor"), std::wstring::npos);
}

}  // namespace
