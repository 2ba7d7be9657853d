// A whole job with the monitor's real message boxes and progress dialog on an X display. A helper
// thread plays the user: it finds each box by the printer name in its caption, reads it and presses
// a button, and it watches for the progress dialog while the alignment waits for the printer.
// Run by run-under-x.sh; skipped when the program has no display.
//
// Most of the run is waiting: the monitor pauses 5 s after an alignment print, and with no window
// manager on the display Wine waits 2 s for one whenever a box or dialog is closed.
#include <algorithm>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "resources/resource_ids.h"
#include "tests/wine/job_host.h"

namespace wine_jobs {
namespace {

constexpr wchar_t kProgressCaption[] = L"Aligning the Printer...";
constexpr wchar_t kProgressText[] = L"Aligning the printer...";
constexpr int kProgressControl = IDC_ALIGN_PROGRESS_TEXT;
constexpr int kBoxTextControl = 0xFFFF;  // the static text of a message box
constexpr int kButtons[] = {IDOK, IDCANCEL, IDYES, IDNO};

struct SeenBox {
  std::wstring caption;
  std::wstring text;
  std::vector<int> buttons;  // those shown, in the order of kButtons
  bool topmost = false;
};

struct SeenDialog {
  std::wstring caption;
  std::wstring controlText;
  bool visible = false;
  size_t boxesBefore = 0;
};

// Waits, handling whatever is sent or posted to this thread meanwhile, as a thread with a message
// queue must.
void Pause(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (DWORD elapsed = 0; elapsed < milliseconds; elapsed = GetTickCount() - start) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&msg);
    }
  }
}

// Text of a window of another thread: the owner answers from the box's message loop or between
// the monitor's polls of the printer. A thread that does not answer in 2 s gives an empty text.
std::wstring WindowText(HWND window) {
  wchar_t text[512] = {};
  DWORD_PTR copied = 0;
  if (window == nullptr ||
      !SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                           SMTO_NORMAL, 2000, &copied)) {
    return {};
  }
  return text;
}

bool IsOwnDialog(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t className[16];
  return process == GetCurrentProcessId() && IsWindowVisible(window) &&
         GetClassNameW(window, className, 16) > 0 && lstrcmpW(className, L"#32770") == 0;
}

BOOL CALLBACK CollectOwnDialog(HWND window, LPARAM list) {
  if (IsOwnDialog(window)) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  }
  return TRUE;
}

// The button to press: the one wanted when the box has it, else Cancel, else the box's first.
int ChooseButton(const std::vector<int>& shown, int wanted) {
  for (int id : {wanted, IDCANCEL}) {
    if (std::find(shown.begin(), shown.end(), id) != shown.end()) {
      return id;
    }
  }
  return shown.empty() ? IDOK : shown.front();
}

// The user at the screen: presses the scripted buttons in turn (when a box lacks the next one, or
// the script has run out, the box is cancelled or acknowledged so the job always ends).
class ScreenUser {
 public:
  ScreenUser(std::deque<int> answers, std::function<void()> onProgress)
      : answers_(std::move(answers)), onProgress_(std::move(onProgress)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ScreenUser() {
    stop_ = true;
    thread_.join();
  }
  ScreenUser(const ScreenUser&) = delete;
  ScreenUser& operator=(const ScreenUser&) = delete;

  std::vector<SeenBox> Boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  std::optional<SeenDialog> Progress() {
    std::lock_guard lock(mutex_);
    return progress_;
  }

 private:
  void Run() {
    while (!stop_) {
      std::vector<HWND> windows;
      EnumWindows(CollectOwnDialog, reinterpret_cast<LPARAM>(&windows));
      for (HWND window : windows) {
        const std::wstring caption = WindowText(window);
        if (caption == kProgressCaption) {
          SawProgress(window, caption);
        } else if (!caption.empty()) {
          Answer(window, caption);
        }
      }
      Pause(20);
    }
  }

  void SawProgress(HWND dialog, const std::wstring& caption) {
    if (progressSeen_) {
      return;
    }
    progressSeen_ = true;
    SeenDialog seen{caption, WindowText(GetDlgItem(dialog, kProgressControl)),
                    IsWindowVisible(dialog) != FALSE, 0};
    {
      std::lock_guard lock(mutex_);
      seen.boxesBefore = boxes_.size();
      progress_ = seen;
    }
    onProgress_();
  }

  void Answer(HWND box, const std::wstring& caption) {
    SeenBox seen;
    seen.caption = caption;
    seen.text = WindowText(GetDlgItem(box, kBoxTextControl));
    seen.topmost = (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    for (int id : kButtons) {
      HWND button = GetDlgItem(box, id);
      if (button != nullptr && IsWindowVisible(button)) {
        seen.buttons.push_back(id);
      }
    }
    const int answer = ChooseButton(seen.buttons, answers_.empty() ? 0 : answers_.front());
    if (!answers_.empty()) {
      answers_.pop_front();
    }
    {
      std::lock_guard lock(mutex_);
      boxes_.push_back(seen);
    }
    // The button's click notification, as the box receives it from a pressed button.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
    for (int i = 0; i < 250 && IsWindow(box); ++i) {
      Pause(20);
    }
  }

  std::deque<int> answers_;
  std::function<void()> onProgress_;
  bool progressSeen_ = false;  // the helper thread's own
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<SeenBox> boxes_;
  std::optional<SeenDialog> progress_;
  std::thread thread_;
};

class OnScreenJob : public WineJobTest {
 protected:
  int ShowUi() const override { return 1; }

  void SetUp() override {
    wchar_t display[256];
    if (GetEnvironmentVariableW(L"DISPLAY", display, 256) == 0) {
      GTEST_SKIP() << "no X display (DISPLAY is not set): run through run-under-x.sh";
    }
    WineJobTest::SetUp();
  }

  std::wstring Text(UINT id) const {
    wchar_t text[320];
    const int length = LoadStringW(Monitor().module, id, text, 320);
    return std::wstring(text, length > 0 ? length : 0);
  }
};

TEST_F(OnScreenJob, LowInkAndAlignmentAreAskedInBoxesAndTheProgressDialogShows) {
  sim::Status status;
  status.magentaSpits = 480000000;  // low ink
  status.newCart = 1;               // a new cartridge, to be aligned
  printer_->SetStatus(status);
  // After the alignment print the printer sends no fresh record until the dialog has been seen on
  // screen (or, should it never show, for 20 s).
  sim::Trigger hold;
  hold.when = sim::When::AfterAlignment;
  hold.change.holdRecordNumber = true;
  printer_->AddTrigger(hold);
  sim::Trigger release = hold;
  release.delayMs = 20000;
  release.change.holdRecordNumber = false;
  printer_->AddTrigger(release);

  sim::JobResult result;
  std::vector<SeenBox> boxes;
  std::optional<SeenDialog> progress;
  {
    ScreenUser user({IDNO, IDYES, IDOK}, [this] {
      sim::StateChange change;
      change.holdRecordNumber = false;
      printer_->Apply(change);
    });
    result = Print(2, 600, 21);
    boxes = user.Boxes();
    progress = user.Progress();
  }

  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, Text(IDS_INK_LOW));
  EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(boxes[1].text, Text(IDS_ALIGN_QUESTION));
  EXPECT_EQ(boxes[1].buttons, (std::vector<int>{IDCANCEL, IDYES, IDNO}));
  EXPECT_EQ(boxes[2].text, Text(IDS_RESTART_JOB));
  EXPECT_EQ(boxes[2].buttons, std::vector<int>{IDOK});
  for (const SeenBox& box : boxes) {
    EXPECT_EQ(box.caption, kPrinterName);
    EXPECT_TRUE(box.topmost) << "system-modal boxes stay above every window";
  }

  ASSERT_TRUE(progress.has_value()) << "the progress dialog never showed";
  EXPECT_EQ(progress->caption, kProgressCaption);
  EXPECT_EQ(progress->controlText, kProgressText);
  EXPECT_TRUE(progress->visible);
  EXPECT_EQ(progress->boxesBefore, 2u);  // between the alignment question and the restart notice
  EXPECT_EQ(FindWindowW(L"#32770", kProgressCaption), nullptr);

  // The alignment ran and was kept, and the job was stopped so that it is sent again.
  ASSERT_EQ(printer_->AlignmentPrints().size(), 1u);
  EXPECT_EQ(printer_->AlignmentPrints()[0].family, 'C');
  EXPECT_EQ(printer_->Commands(), std::vector<sim::Command>{sim::Command::AlignmentFinish});
  EXPECT_TRUE(result.writeFailed);
  EXPECT_EQ(JobControls(JOB_CONTROL_DELETE), std::vector<DWORD>{21});
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"2");
  EXPECT_EQ(ReadSetting(PrinterIni(), L"PrintCounter"), L"1");
}

TEST_F(OnScreenJob, QuietModeShowsNoBoxAtAll) {
  WriteSetting(ModelIni(), L"SHOW_UI", L"0");
  sim::Status status;
  status.magentaSpits = 480000000;  // low ink: a question, were boxes shown
  printer_->SetStatus(status);

  std::vector<SeenBox> boxes;
  {
    ScreenUser user({}, [] {});
    EXPECT_FALSE(Print(1, 600, 22).writeFailed);
    boxes = user.Boxes();
  }
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"2");
}

}  // namespace
}  // namespace wine_jobs
