// Whole jobs with the monitor's real message boxes and progress dialog on an X display. A helper
// thread plays the user: it finds each box by the printer name in its caption, reads it and presses
// a button (or leaves it alone), and it watches for the progress dialog while the alignment waits
// for the printer. The boxes come on the monitor's own desktop through MessageBoxW, or, for a job
// from a user's session, through the stand-in spooler's SplPromptUIInUsersSession, which shows
// them on the same display. Run by run-under-x.sh; skipped when the program has no display.
//
// Most of the run is waiting: the monitor pauses 5 s after an alignment print, a question left
// alone waits for its time-out, and with no window manager on the display Wine waits 2 s for one
// whenever a box or dialog is closed.
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
constexpr int kBoxIconControl = 0x0440;  // its icon
constexpr int kButtons[] = {IDOK, IDCANCEL, IDYES, IDNO};
// A scripted answer: look at the box and press nothing.
constexpr int kLeaveAlone = -1;

constexpr wchar_t kOutOfStockText[] =
    L"The label stock is empty.\nRemove the printed labels and install new label stock.\nThen "
    L"click "
    L"\"OK\" to continue printing.";
constexpr wchar_t kLowInkText[] =
    L"The cartridge is LOW on ink.\nWould you like to change the cartridge now?";

// The number of a system icon (IDI_HAND ...), as SeenBox::icon holds it.
WORD IconNumber(LPCSTR icon) { return LOWORD(reinterpret_cast<ULONG_PTR>(icon)); }

struct SeenBox {
  std::wstring caption;
  std::wstring text;
  std::vector<int> buttons;  // those shown, in the order of kButtons
  WORD icon = 0;             // IconNumber of the system icon shown; 0 none, 0xFFFF another
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

WORD IconOf(HWND box) {
  HWND control = GetDlgItem(box, kBoxIconControl);
  DWORD_PTR icon = 0;
  if (control == nullptr || !IsWindowVisible(control) ||
      !SendMessageTimeoutW(control, STM_GETICON, 0, 0, SMTO_NORMAL, 2000, &icon) || icon == 0) {
    return 0;
  }
  for (LPCSTR system : {IDI_HAND, IDI_EXCLAMATION, IDI_ASTERISK}) {
    if (reinterpret_cast<HICON>(icon) == LoadIconA(nullptr, system)) {
      return IconNumber(system);
    }
  }
  return 0xFFFF;
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
// the script has run out, the box is cancelled or acknowledged so the job always ends), or leaves
// a box alone until it goes.
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
    seen.icon = IconOf(box);
    seen.topmost = (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    for (int id : kButtons) {
      HWND button = GetDlgItem(box, id);
      if (button != nullptr && IsWindowVisible(button)) {
        seen.buttons.push_back(id);
      }
    }
    const int scripted = answers_.empty() ? 0 : answers_.front();
    if (!answers_.empty()) {
      answers_.pop_front();
    }
    {
      std::lock_guard lock(mutex_);
      boxes_.push_back(seen);
    }
    if (scripted == kLeaveAlone) {
      // One that never goes by itself is answered after 30 s: the test fails instead of hanging.
      for (int i = 0; i < 1500 && IsWindow(box) && !stop_; ++i) {
        Pause(20);
      }
      if (!IsWindow(box) || stop_) {
        return;
      }
    }
    const int answer = ChooseButton(seen.buttons, scripted);
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

std::vector<StandInPromptCall> PromptCalls() {
  std::vector<StandInPromptCall> calls(Spooler().PromptCalls(nullptr, 0));
  calls.resize(Spooler().PromptCalls(calls.data(), static_cast<DWORD>(calls.size())));
  return calls;
}

bool LogHas(const std::string& line) { return LogFileText().find(line) != std::string::npos; }

// Jobs whose boxes come on the monitor's own desktop: the stand-in spooler says the job came from
// session 0, or, when it lacks the functions that reach the job's owner (--stand-in-spoolss), the
// job comes from a user's session and its boxes come there all the same.
class OnScreenJob : public WineJobTest {
 protected:
  int ShowUi() const override { return 1; }

  void SetUp() override {
    wchar_t display[256];
    if (GetEnvironmentVariableW(L"DISPLAY", display, 256) == 0) {
      GTEST_SKIP() << "no X display (DISPLAY is not set): run through run-under-x.sh";
    }
    // The monitor shows nothing in session 0, which no user sees.
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    ASSERT_NE(session, 0u) << "Wine put the test host in session 0: no box would be shown";
    WineJobTest::SetUp();
    if (Spooler().offersSessionPrompts) {
      Spooler().SetJobSession(0);
    }
    DeleteFileA(LogFilePath().c_str());
  }

  // Prints while the user at the screen answers as scripted; *boxes gets the boxes they saw.
  sim::JobResult PrintAnswering(std::deque<int> answers, unsigned labels, DWORD jobId,
                                std::vector<SeenBox>* boxes) {
    ScreenUser user(std::move(answers), [] {});
    const sim::JobResult result = Print(labels, 600, jobId);
    *boxes = user.Boxes();
    return result;
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
  EXPECT_EQ(boxes[0].icon, IconNumber(IDI_EXCLAMATION));
  EXPECT_EQ(boxes[1].icon, IconNumber(IDI_ASTERISK));
  EXPECT_EQ(boxes[2].icon, IconNumber(IDI_HAND));
  for (const SeenBox& box : boxes) {
    EXPECT_EQ(box.caption, kPrinterName);
    EXPECT_TRUE(box.topmost) << "system-modal boxes stay above every window";
  }
  EXPECT_TRUE(PromptCalls().empty()) << "the boxes came through the spooler, not MessageBoxW";

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
  EXPECT_FALSE(PrintAnswering({}, 1, 22, &boxes).writeFailed);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"2");
}

// Jobs from a user's session, with a spooler that shows their questions in the owner's session.
class OwnersSessionJob : public OnScreenJob {
 protected:
  void SetUp() override {
    OnScreenJob::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
      return;
    }
    ASSERT_TRUE(Spooler().offersSessionPrompts) << "run without --stand-in-spoolss";
    Spooler().SetJobSession(1);
  }
};

TEST_F(OwnersSessionJob, QuestionIsShownToTheJobsOwnerAndTheAnswerDecides) {
  sim::Status status;
  status.errorFlags = 0x01;  // label stock out
  printer_->SetStatus(status);

  std::vector<SeenBox> boxes;
  const sim::JobResult result = PrintAnswering({IDCANCEL}, 2, 31, &boxes);

  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, kPrinterName);
  EXPECT_EQ(boxes[0].text, kOutOfStockText);
  EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDOK, IDCANCEL}));
  EXPECT_EQ(boxes[0].icon, IconNumber(IDI_HAND));
  EXPECT_TRUE(boxes[0].topmost);

  const std::vector<StandInPromptCall> calls = PromptCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].jobId, 31u);
  EXPECT_STREQ(calls[0].caption, kPrinterName);
  EXPECT_STREQ(calls[0].text, kOutOfStockText);
  EXPECT_EQ(calls[0].style, 0x1011u);
  EXPECT_EQ(calls[0].timeoutSeconds, 0u);  // no PromptTimeout: the question waits for its answer
  EXPECT_TRUE(calls[0].wait);
  EXPECT_EQ(calls[0].response, 2u);
  EXPECT_TRUE(LogHas("OemPtrMessageBox(): message 436 answered 2 in the job owner's session\n"));

  // Cancel at the empty stock: the job is deleted after the unchecked first write.
  EXPECT_TRUE(result.writeFailed);
  const std::vector<BYTE> preamble(sim::kJobPreamble, sim::kJobPreamble + sim::kJobPreambleSize);
  EXPECT_EQ(printer_->JobData(), preamble);
  EXPECT_EQ(JobControls(JOB_CONTROL_DELETE), std::vector<DWORD>{31});
}

TEST_F(OwnersSessionJob, QuestionLeftAloneClosesAtThePromptTimeoutAsUnanswered) {
  WriteSetting(PrinterIni(), L"PromptTimeout", L"3");
  sim::Status status;
  status.magentaSpits = 480000000;  // low ink
  printer_->SetStatus(status);

  std::vector<SeenBox> boxes;
  const sim::JobResult result = PrintAnswering({kLeaveAlone}, 1, 32, &boxes);

  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kLowInkText);
  EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(FindWindowW(L"#32770", kPrinterName), nullptr);

  const std::vector<StandInPromptCall> calls = PromptCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].style, 0x1034u);
  EXPECT_EQ(calls[0].timeoutSeconds, 3u);
  EXPECT_EQ(calls[0].response, 32000u);  // IDTIMEOUT
  EXPECT_TRUE(LogHas(
      "OemPtrMessageBox(): message 469 not answered within 3 s in the job owner's session\n"));

  // As for no answer at all: the cartridge stays, the warning is kept, and the job prints.
  EXPECT_FALSE(result.writeFailed);
  EXPECT_EQ(printer_->JobData(), lastJobData_);
  EXPECT_TRUE(printer_->Commands().empty());
  EXPECT_EQ(ReadSetting(PrinterIni(), L"WarnLevelColor"), L"2");
  EXPECT_EQ(JobControls(JOB_CONTROL_LAST_PAGE_EJECTED), std::vector<DWORD>{32});
}

}  // namespace
}  // namespace wine_jobs
