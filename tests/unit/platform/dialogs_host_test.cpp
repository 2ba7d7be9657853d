// The modeless progress dialog and its message queue.
#include <thread>
#include <vector>

#include "platform_fixture.h"
#include "resources/resource_ids.h"

namespace {

struct Seen {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};
thread_local std::vector<Seen>* tSeen = nullptr;

// Does what the monitor's procedure does at WM_INITDIALOG.
INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (tSeen) tSeen->push_back({window, message, wParam, lParam});
  if (message == WM_INITDIALOG) {
    SetDlgItemTextW(window, IDC_ALIGN_PROGRESS_TEXT, u"Aligning the printer...");
    ShowWindow(GetDlgItem(window, IDC_ALIGN_PROGRESS_TEXT), SW_SHOW);
    return TRUE;
  }
  return FALSE;
}

class DialogsTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    tSeen = &seen_;
  }
  void TearDown() override {
    tSeen = nullptr;
    PlatformTest::TearDown();
  }
  HWND Create(LPARAM init = 0) {
    return CreateDialogParamW(host::MonitorModule(), MAKEINTRESOURCEW(IDD_ALIGN_PROGRESS), nullptr,
                              Procedure, init);
  }
  std::vector<Seen> seen_;
};

TEST_F(DialogsTest, CreationSendsInitDialogAtOnce) {
  HWND dialog = Create(1234);
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_EQ(seen_[0].message, static_cast<UINT>(WM_INITDIALOG));
  EXPECT_EQ(seen_[0].window, dialog);
  EXPECT_EQ(seen_[0].lParam, 1234);
  EXPECT_TRUE(IsWindow(dialog));

  const auto dialogs = host::Dialogs();
  ASSERT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(dialogs[0].window, dialog);
  EXPECT_EQ(dialogs[0].templateId, static_cast<unsigned>(IDD_ALIGN_PROGRESS));
  EXPECT_EQ(dialogs[0].caption, u"Aligning the Printer...");
  EXPECT_EQ(dialogs[0].controlId, IDC_ALIGN_PROGRESS_TEXT);
  EXPECT_EQ(dialogs[0].controlText, u"Aligning the printer...");  // set by the procedure
  EXPECT_FALSE(dialogs[0].visible);
  EXPECT_TRUE(dialogs[0].alive);
  DestroyWindow(dialog);
}

TEST_F(DialogsTest, TheControlStartsWithTheTemplateText) {
  HWND dialog =
      CreateDialogParamW(nullptr, MAKEINTRESOURCEW(IDD_ALIGN_PROGRESS), nullptr, nullptr, 0);
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(host::Dialogs()[0].controlText, u"Aligning the Printer...");
  HWND control = GetDlgItem(dialog, IDC_ALIGN_PROGRESS_TEXT);
  EXPECT_NE(control, nullptr);
  EXPECT_NE(control, dialog);
  EXPECT_EQ(GetDlgItem(dialog, 999), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
  DestroyWindow(dialog);
}

TEST_F(DialogsTest, ShownDialogHasOnePaintToDispatch) {
  HWND dialog = Create();
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));  // hidden: nothing to paint
  EXPECT_FALSE(ShowWindow(dialog, SW_SHOW));                       // was hidden
  EXPECT_TRUE(ShowWindow(dialog, SW_SHOW));                        // was visible
  EXPECT_TRUE(host::Dialogs()[0].visible);
  EXPECT_TRUE(SetDlgItemTextW(dialog, IDC_ALIGN_PROGRESS_TEXT, u"Aligning the printer..."));

  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_PAINT));
  int dispatched = 0;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    EXPECT_EQ(message.hwnd, dialog);
    if (!IsDialogMessageW(dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    ++dispatched;
  }
  EXPECT_EQ(dispatched, 1);
  EXPECT_EQ(host::Dialogs()[0].messagesDispatched, 1u);
  EXPECT_EQ(seen_.back().message, static_cast<UINT>(WM_PAINT));
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(dialog);
}

TEST_F(DialogsTest, MessagesBelongToTheCreatingThread) {
  HWND dialog = Create();
  ShowWindow(dialog, SW_SHOW);
  BOOL otherSawOne = TRUE;
  std::thread other([&] {
    MSG message;
    otherSawOne = PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
  });
  other.join();
  EXPECT_FALSE(otherSawOne);
  MSG message;
  EXPECT_TRUE(PeekMessageW(&message, dialog, WM_PAINT, WM_PAINT, PM_REMOVE));
  DestroyWindow(dialog);
}

TEST_F(DialogsTest, DestroySendsWmDestroyAndEndsTheWindow) {
  HWND dialog = Create();
  HWND control = GetDlgItem(dialog, IDC_ALIGN_PROGRESS_TEXT);
  ShowWindow(dialog, SW_SHOW);
  EXPECT_TRUE(DestroyWindow(dialog));
  EXPECT_EQ(seen_.back().message, static_cast<UINT>(WM_DESTROY));
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_FALSE(IsWindow(control));
  const auto record = host::Dialogs()[0];
  EXPECT_FALSE(record.alive);
  EXPECT_FALSE(record.visible);
  EXPECT_EQ(record.controlText, u"Aligning the printer...");
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  SetLastError(0);
  EXPECT_FALSE(DestroyWindow(dialog));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(SetDlgItemTextW(dialog, IDC_ALIGN_PROGRESS_TEXT, u"x"));
  EXPECT_FALSE(ShowWindow(dialog, SW_SHOW));
}

TEST_F(DialogsTest, UnknownTemplatesAndArmedFailures) {
  SetLastError(0);
  EXPECT_EQ(CreateDialogParamW(host::MonitorModule(), MAKEINTRESOURCEW(434), nullptr, Procedure, 0),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  host::FailDialogCreation(2);
  HWND first = Create();
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(Create(), nullptr);
  HWND third = Create();
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(host::Dialogs().size(), 2u);
  DestroyWindow(first);
  DestroyWindow(third);
}

TEST_F(DialogsTest, ObserverFollowsEveryChange) {
  std::vector<host::DialogRecord> changes;
  host::OnDialogChange([&changes](const host::DialogRecord& record) { changes.push_back(record); });
  HWND dialog = Create();
  ShowWindow(dialog, SW_SHOW);
  DestroyWindow(dialog);
  ASSERT_GE(changes.size(), 3u);
  EXPECT_TRUE(changes.front().alive);
  EXPECT_FALSE(changes.front().visible);
  EXPECT_FALSE(changes.back().alive);
  bool sawVisible = false;
  for (const auto& change : changes) sawVisible |= change.visible;
  EXPECT_TRUE(sawVisible);
}

TEST_F(DialogsTest, ResetForgetsTheRecordsButNotTheWindows) {
  HWND dialog = Create();
  host::Reset();
  EXPECT_TRUE(host::Dialogs().empty());
  EXPECT_TRUE(IsWindow(dialog));
  EXPECT_TRUE(DestroyWindow(dialog));
}

}  // namespace
