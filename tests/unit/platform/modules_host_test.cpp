// GetModuleHandleW and GetProcAddress for the spooler's newer functions, and their allocators.
#include "platform_fixture.h"

namespace {

class ModulesHostTest : public PlatformTest {
 protected:
  static FARPROC Find(const char* name) {
    return GetProcAddress(GetModuleHandleW(u"spoolss.dll"), name);
  }
};

TEST_F(ModulesHostTest, TheSpoolerOffersItsBidiAllocatorsUnlessAHostWithholdsThem) {
  EXPECT_EQ(GetModuleHandleW(u"SPOOLSS.DLL"), GetModuleHandleW(u"spoolss.dll"));
  EXPECT_NE(Find("RouterAllocBidiResponseContainer"), nullptr);
  EXPECT_NE(Find("RouterFreeBidiMem"), nullptr);

  host::WithholdSpoolerFunction("RouterAllocBidiMem");
  SetLastError(0);
  EXPECT_EQ(Find("RouterAllocBidiMem"), nullptr);
  EXPECT_EQ(GetLastError(), 127u);
  EXPECT_NE(Find("RouterAllocBidiResponseContainer"), nullptr);
  EXPECT_EQ(Find("RouterAllocBidiMem2"), nullptr);
  host::Reset();
  EXPECT_NE(Find("RouterAllocBidiMem"), nullptr) << "Reset offers them all again";

  EXPECT_EQ(GetProcAddress(nullptr, "RouterAllocBidiMem"), nullptr);
}

TEST_F(ModulesHostTest, AContainerIsFreedWithEveryBlockItsAnswersHold) {
  const long before = host::LiveBidiAllocations();
  PBIDI_RESPONSE_CONTAINER container = RouterAllocBidiResponseContainer(3);
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(container->Count, 3u);
  container->aData[0].pSchema = static_cast<LPWSTR>(RouterAllocBidiMem(8));
  container->aData[0].data.dwBidiType = BIDI_ENUM;
  container->aData[0].data.u.sData = static_cast<LPWSTR>(RouterAllocBidiMem(8));
  container->aData[1].data.dwBidiType = BIDI_BLOB;
  container->aData[1].data.u.biData.pData = static_cast<LPBYTE>(RouterAllocBidiMem(4));
  container->aData[2].data.dwBidiType = BIDI_INT;
  container->aData[2].data.u.iData = 7;  // not a block
  EXPECT_EQ(host::LiveBidiAllocations(), before + 4);
  EXPECT_EQ(RouterFreeBidiResponseContainer(container), 0u);
  EXPECT_EQ(host::LiveBidiAllocations(), before);
  EXPECT_EQ(host::BadBidiFrees(), 0u);

  host::FailBidiAllocation(2);
  void* first = RouterAllocBidiMem(1);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(RouterAllocBidiMem(1), nullptr);
  RouterFreeBidiMem(first);
  RouterFreeBidiMem(first);
  EXPECT_EQ(host::BadBidiFrees(), 1u) << "a second free is noticed, not performed";
}

}  // namespace
