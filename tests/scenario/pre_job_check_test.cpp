#include <functional>
#include <map>

#include "settings/held_settings.h"
#include "settings/quiet_mode.h"
#include "tests/support/scenario_test.h"

namespace langmon_test {
namespace {

using sim::Command;

// The cartridge-empty command as the printer expects it on the wire.
const std::vector<BYTE> kCartEmptyBytes = {0x1B, 0x2A, 0x6D, 0x04, 0x04};

class PreJobCheckTest : public ScenarioTest {
 protected:
  // Puts a cartridge that has hardly been used in the printer at the next cartridge change.
  void QueueFreshCartridge(BYTE newCart, BYTE cartType = sim::kColorCartType,
                           DWORD yellowSpits = 1000) {
    sim::Cartridge fresh;
    fresh.cartType = cartType;
    fresh.yellowSpits = yellowSpits;
    fresh.newCart = newCart;
    printer_->QueueCartridges({fresh});
  }

  // The bytes of every write the port monitor refused, in order.
  std::vector<std::vector<BYTE>> RefusedWrites() {
    std::vector<std::vector<BYTE>> refused;
    for (const sim::Event& event : printer_->Events()) {
      if (event.kind == sim::EventKind::Write && !event.result) {
        refused.push_back(event.bytes);
      }
    }
    return refused;
  }

  // Answers each box with the next answer its own text ID has in `answers`, and runs `before`
  // (when given) just before the answer; a box with no answer left is answered 0.
  void AnswerEach(std::map<unsigned, std::vector<int>> answers,
                  std::function<void(unsigned id, int nth)> before = {}) {
    host::SetAnswerer(
        [answers = std::move(answers), before = std::move(before),
         asked = std::map<unsigned, int>()](const host::MessageBoxRecord& box) mutable {
          const int nth = asked[box.textId]++;
          if (before) {
            before(box.textId, nth);
          }
          const std::vector<int>& mine = answers[box.textId];
          return nth < static_cast<int>(mine.size()) ? mine[static_cast<size_t>(nth)] : 0;
        });
  }
};

TEST_F(PreJobCheckTest, HealthyPrinterPrintsEveryLabelAndCountsEachCheckedHeader) {
  const sim::JobResult result = Print(3);
  EXPECT_TRUE(result.started);
  EXPECT_FALSE(result.writeFailed);
  EXPECT_TRUE(result.ended);
  EXPECT_EQ(printer_->JobData(), lastJobData_);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 3);
  EXPECT_NE(PrinterSetting(u"YellowSpits"), -999);
  EXPECT_TRUE(printer_->Commands().empty());
  const std::vector<host::SetJobRecord> calls = host::SetJobCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].command, static_cast<DWORD>(JOB_CONTROL_LAST_PAGE_EJECTED));
  spooler_->ClosePort();
  EXPECT_EQ(LeakedAllocations(), 0);
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
}

TEST_F(PreJobCheckTest, PrintCounterStopsAtItsCap) {
  WriteText(PrinterIni(), "[settings]\nPrintCounter=31999\n");
  Print(1);
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 32000);
  Print(2, 600, 2);
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 32000);
}

// The spooler's delete fails too, and it offers the refused header again: the port stays
// marked, so the header never goes out unchecked, until the next job starts and is checked.
TEST_F(PreJobCheckTest, SilentPrinterAsksToRetryAndCancelDeletesTheJobs) {
  host::Printer refusesDeletes;
  refusesDeletes.name = kPrinterName;
  refusesDeletes.setJobSucceeds = false;
  host::AddPrinter(refusesDeletes);
  printer_->SetAutoStatus(false);
  host::QueueAnswers({IDOK, IDCANCEL});
  const sim::JobResult result = Print(2);
  EXPECT_TRUE(result.writeFailed);
  EXPECT_EQ(result.writeError, 63u);  // ERROR_PRINT_CANCELLED
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{454, 454}));
  EXPECT_EQ(DeletedJobs(), std::vector<DWORD>{1});
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
  EXPECT_TRUE(Logged(Inform("PrepareForNextPrint( ) failed!  Jobs Aborted\n")));
  // Only the preamble reached the printer.
  EXPECT_EQ(printer_->JobData().size(), sim::kJobPreambleSize);

  std::vector<BYTE> again(lastJobData_.begin() + sim::kJobPreambleSize, lastJobData_.end());
  for (int offer = 0; offer < 3; ++offer) {
    DWORD written = 0;
    SetLastError(0);
    EXPECT_FALSE(PJLWritePort(spooler_->PortHandle(), again.data(),
                              static_cast<DWORD>(again.size()), &written));
    EXPECT_EQ(GetLastError(), 63u);
  }
  EXPECT_EQ(printer_->JobData().size(), sim::kJobPreambleSize);
  EXPECT_EQ(Boxes().size(), 2u) << "no check ran for the refused header";
  EXPECT_EQ(Count(Inform("Header found -- the check failed on this port, not sent\n")), 3);

  printer_->SetAutoStatus(true);
  printer_->ClearEvents();
  EXPECT_FALSE(Print(2, 600, 2).writeFailed);
  EXPECT_EQ(printer_->JobData(), lastJobData_);
}

TEST_F(PreJobCheckTest, OutOfStockIsAskedUntilTheStockIsBack) {
  sim::Status status;
  status.errorFlags = 0x01;
  Report(status);
  // The first OK comes while the stock is still out; the second after it was loaded.
  int asked = 0;
  host::SetAnswerer([this, &asked](const host::MessageBoxRecord&) {
    if (++asked == 2) {
      sim::StateChange loaded;
      loaded.errorFlags = 0;
      printer_->Apply(loaded);
    }
    return IDOK;
  });
  const sim::JobResult result = Print(1);
  EXPECT_FALSE(result.writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{436, 436}));
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 1);
  EXPECT_TRUE(Logged(Warning("-->OUT OF STOCK!!\n")));
}

TEST_F(PreJobCheckTest, PrinterErrorsThatStopTheJob) {
  struct Case {
    BYTE flags;
    int answer;
    unsigned box;
  };
  for (const Case& c :
       {Case{0x08, IDOK, 440u}, Case{0x04, IDCANCEL, 468u}, Case{0x05, IDCANCEL, 436u}}) {
    ClearBoxes();
    sim::Status status;
    status.errorFlags = c.flags;
    Report(status);
    host::QueueAnswers({c.answer});
    const sim::JobResult result = Print(1, 600, c.flags);
    EXPECT_TRUE(result.writeFailed) << int(c.flags);
    EXPECT_EQ(Boxes(), std::vector<unsigned>{c.box}) << int(c.flags);
  }
  EXPECT_EQ(DeletedJobs(), (std::vector<DWORD>{0x08, 0x04, 0x05}));
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
}

// The cartridge-empty flag is left to the ink check, after the stock, whatever other flags it
// comes with.
TEST_F(PreJobCheckTest, EmptyCartridgeFlagGoesOnToTheInkCheckOnceTheStockIsIn) {
  struct Case {
    BYTE flags;
    std::vector<unsigned> boxes;
  };
  DWORD jobId = 0;
  for (const Case& c : {Case{0x02, {}}, Case{0x0A, {}}, Case{0x03, {436}}}) {
    SCOPED_TRACE(int{c.flags});
    ClearBoxes();
    sim::Status status;
    status.errorFlags = c.flags;
    Report(status);
    AnswerEach({{436, {IDOK}}}, [this](unsigned, int) {
      sim::StateChange loaded;
      loaded.errorFlags = 0x02;
      printer_->Apply(loaded);
    });
    EXPECT_FALSE(Print(1, 600, ++jobId).writeFailed);
    EXPECT_EQ(Boxes(), c.boxes);
    EXPECT_EQ(PrinterSetting(u"PrintCounter"), static_cast<int>(jobId));
  }
  EXPECT_FALSE(Logged(Error("Unrecoverable ERROR (10)\n")));
}

// A re-read that brings no valid record leaves the last valid one in force: the printer is not
// taken to be fixed on the strength of a record that failed its checks.
TEST_F(PreJobCheckTest, FailedRereadKeepsTheLastValidStatus) {
  struct Case {
    BYTE flags;
    DWORD yellowSpits;
    unsigned question;
    int answer;
  };
  DWORD jobId = 0;
  for (const Case& c : {Case{0x01, 0, 436, IDOK}, Case{0x02, 900 * kMillion, 470, IDNO}}) {
    SCOPED_TRACE(c.question);
    ClearBoxes();
    sim::Status status;
    status.errorFlags = c.flags;
    status.yellowSpits = c.yellowSpits;
    Report(status);
    // The operator fixes the printer at the first question, but until the second one every
    // record the printer sends fails its checksum.
    AnswerEach({{c.question, {c.answer, c.answer}}}, [this](unsigned, int nth) {
      sim::StateChange change;
      change.errorFlags = 0;
      change.readMode =
          nth == 0 ? sim::ReadOutcome{sim::ReadFault::BadChecksum, 0} : sim::ReadOutcome{};
      printer_->Apply(change);
    });
    EXPECT_FALSE(Print(1, 600, ++jobId).writeFailed);
    EXPECT_EQ(Boxes(), (std::vector<unsigned>{c.question, c.question}));
    EXPECT_EQ(PrinterSetting(u"PrintCounter"), static_cast<int>(jobId));
  }
}

TEST_F(PreJobCheckTest, LowInkIsWarnedOncePerLevel) {
  sim::Status status;
  status.yellowSpits = 100 * kMillion;
  status.magentaSpits = 470 * kMillion;  // 9 % left of 515 million
  status.cyanSpits = 200 * kMillion;
  Report(status);
  host::QueueAnswers({IDNO});
  EXPECT_FALSE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{469});
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 2);
  EXPECT_TRUE(Logged(Inform("Check Ink Level(Spits=470000000, MaxSpits=515000000, Level=1\n")));

  ClearBoxes();
  Print(1, 600, 2);
  EXPECT_TRUE(Boxes().empty()) << "the same level is not warned twice";

  status = printer_->GetStatus();
  status.magentaSpits = 600 * kMillion;  // well over the limit
  Report(status);
  host::QueueAnswers({IDNO});
  Print(1, 600, 3);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{469});
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 4);
}

TEST_F(PreJobCheckTest, BlackCartridgeUsesTheYellowCounterAndItsOwnLimit) {
  WriteText(ModelIni(), "[settings]\nPigBlackSpits=100\nBlackSpits=900\n");
  sim::Status status;
  status.cartType = '0';
  status.yellowSpits = 95 * kMillion;
  status.magentaSpits = 800 * kMillion;  // ignored for black cartridges
  Report(status);
  host::QueueAnswers({IDNO});
  Print(1);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{469});
  EXPECT_EQ(PrinterSetting(u"WarnLevelBlack"), 2);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), -999);
}

TEST_F(PreJobCheckTest, SpitLimitTooLargeForThirtyTwoBitsMeansNoLimit) {
  WriteText(ModelIni(), "[settings]\nColorSpits=5000\n");
  sim::Status status;
  status.yellowSpits = 700 * kMillion;  // over a wrapped limit of 705 million... but under none
  Report(status);
  Print(1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(Logged(Inform("Check Ink Level(Spits=700000000, MaxSpits=4294967295, Level=1\n")));
}

TEST_F(PreJobCheckTest, EmptyCartridgeClearedByTheUserLetsTheJobGoOn) {
  sim::Status status;
  status.yellowSpits = 900 * kMillion;  // past the colour hard limit
  status.errorFlags = 0x02;
  Report(status);
  host::SetAnswerer([this](const host::MessageBoxRecord& box) {
    if (box.textId == 470) {
      sim::StateChange cleared;
      cleared.errorFlags = 0;
      printer_->Apply(cleared);
    }
    return IDNO;
  });
  EXPECT_FALSE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), std::vector<unsigned>{470});
  EXPECT_EQ(printer_->Commands(), std::vector<Command>{Command::CartridgeEmpty});
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 1);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), -999) << "level 5 is never stored";
}

// Without the cartridge-empty command the printer cannot end the question: only Yes leaves it.
// The job then goes on after the change, but neither aligned nor counted.
TEST_F(PreJobCheckTest, RefusedCartridgeEmptyCommandLeavesOnlyTheChangeAndSkipsAlignAndCount) {
  sim::Status status;
  status.yellowSpits = 900 * kMillion;
  status.errorFlags = 0x02;
  Report(status);
  printer_->QueueWrites({sim::WriteOutcome{}, sim::WriteOutcome{sim::WriteFault::Fail, 0}});
  QueueFreshCartridge(1);
  // The condition is cleared at the printer after the first No; that no longer ends the loop.
  AnswerEach({{470, {IDNO, IDNO, IDYES}}, {427, {IDOK}}}, [this](unsigned id, int nth) {
    if (id == 470 && nth == 0) {
      sim::StateChange cleared;
      cleared.errorFlags = 0;
      printer_->Apply(cleared);
    }
  });
  EXPECT_FALSE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{470, 470, 470, 427}));
  EXPECT_EQ(RefusedWrites(), std::vector<std::vector<BYTE>>{kCartEmptyBytes});
  EXPECT_EQ(printer_->Commands(),
            (std::vector<Command>{Command::CartridgeChangeStart, Command::CartridgeChangeEnd}));
  EXPECT_EQ(printer_->JobData(), lastJobData_);
  EXPECT_TRUE(DeletedJobs().empty());
  EXPECT_TRUE(printer_->AlignmentPrints().empty()) << "the new cartridge is not aligned";
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 1);
  EXPECT_FALSE(Logged(Warning("3 questions went unanswered: giving up\n")));
}

// Only unanswered questions count towards the bound of a loop that an answer alone ends: No at
// 470 without the command, and OK at 453, each more often than the bound, keep the loop going.
TEST_F(PreJobCheckTest, AnsweredQuestionsNeverEndALoopThatAnAnswerEnds) {
  sim::Status status;
  status.yellowSpits = 900 * kMillion;
  Report(status);
  printer_->QueueWrites({sim::WriteOutcome{}, sim::WriteOutcome{sim::WriteFault::Fail, 0}});
  QueueFreshCartridge(0);
  host::QueueAnswers({IDNO, IDNO, IDNO, IDNO, IDYES, IDOK, IDOK});  // 470 x 5, 427, 443
  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{470, 470, 470, 470, 470, 427, 443}));
  EXPECT_EQ(printer_->Commands(),
            (std::vector<Command>{Command::CartridgeChangeStart, Command::CartridgeChangeEnd}));

  ClearBoxes();
  printer_->ClearEvents();
  status.yellowSpits = 1000;
  status.newCart = 1;
  Report(status);
  sim::AlignmentResult bad;
  bad.markA = bad.markB = '(';
  printer_->QueueAlignmentResults({bad, bad, bad, bad, bad});
  // 400, 453 x 5 (the last one Cancel), 443
  host::QueueAnswers({IDYES, IDOK, IDOK, IDOK, IDOK, IDCANCEL, IDOK});
  EXPECT_TRUE(Print(1, 600, 2).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{400, 453, 453, 453, 453, 453, 443}));
  EXPECT_EQ(printer_->AlignmentPrints().size(), 5u);
  EXPECT_EQ(printer_->Commands(), std::vector<Command>{Command::AlignmentFinish});
  EXPECT_FALSE(Logged(Warning("3 questions went unanswered: giving up\n")));
}

TEST_F(PreJobCheckTest, ChangingAnEmptyCartridgeResetsTheWarnLevelAndAlignsTheNewOne) {
  WriteText(PrinterIni(), "[settings]\nWarnLevelColor=4\n");
  sim::Status status;
  status.yellowSpits = 900 * kMillion;
  Report(status);
  QueueFreshCartridge(1);
  host::QueueAnswers({IDYES, IDOK, IDYES, IDOK});  // 470, 427, 400, 443
  const sim::JobResult result = Print(1);
  EXPECT_TRUE(result.writeFailed) << "a job that reached the alignment is always restarted";
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{470, 427, 400, 443}));
  EXPECT_EQ(printer_->Commands(),
            (std::vector<Command>{Command::CartridgeEmpty, Command::CartridgeChangeStart,
                                  Command::CartridgeChangeEnd, Command::AlignmentFinish}));
  ASSERT_EQ(printer_->AlignmentPrints().size(), 1u);
  EXPECT_EQ(printer_->AlignmentPrints()[0].family, 'C');
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 1);
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 1) << "a completed alignment still counts";
  EXPECT_EQ(PrinterSetting(u"YellowSpits"), 1000);
}

TEST_F(PreJobCheckTest, PuttingTheEmptyCartridgeBackFailsTheJob) {
  sim::Status status;
  status.yellowSpits = 900 * kMillion;
  Report(status);
  host::QueueAnswers({IDYES, IDOK, IDOK});  // 470, 427, 443
  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{470, 427, 443}));
  EXPECT_TRUE(Logged(Inform(" ** JOB FAILED: User changed to same cart in FinalWarnLevel\n")));
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), -999) << "the same cartridge keeps its level";
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
}

// The level is reset for the family of the cartridge now in the printer, not the one taken out.
TEST_F(PreJobCheckTest, NewCartridgeStartsItsOwnFamilyUnwarned) {
  struct Case {
    BYTE newType;
    int black;
    int color;
  };
  DWORD jobId = 0;
  for (const Case& c : {Case{'0', 1, 3}, Case{sim::kColorCartType, 2, 1}}) {
    SCOPED_TRACE(int{c.newType});
    ClearBoxes();
    WriteText(PrinterIni(), "[settings]\nWarnLevelColor=3\n");
    sim::Status status;
    status.cartType = '0';
    status.yellowSpits = 570 * kMillion;  // 5 % left of the pigment black's 600 million
    Report(status);
    QueueFreshCartridge(0, c.newType);
    host::QueueAnswers({IDYES, IDOK});  // 469, 427
    EXPECT_FALSE(Print(1, 600, ++jobId).writeFailed);
    EXPECT_EQ(Boxes(), (std::vector<unsigned>{469, 427}));
    EXPECT_EQ(PrinterSetting(u"WarnLevelBlack"), c.black);
    EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), c.color);
  }
}

// ---- A cartridge change that ends without a usable cartridge --------------------------------

struct ChangeCase {
  const char* name;
  BYTE cartStatus;           // of every cartridge put in; 0: no status comes after the change
  std::vector<int> answers;  // after Yes at 469; then every box goes unanswered
  std::vector<unsigned> boxes;
  bool cancelled;  // at 445 or 450, which logs it
  bool givenUp;    // after three unanswered questions
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class ChangeWithoutCartridgeTest : public PreJobCheckTest,
                                   public ::testing::WithParamInterface<ChangeCase> {};

// Cancel stops the job, and so do three questions that nobody answered: each pass repeats the
// whole change, which only an answer ends.
TEST_P(ChangeWithoutCartridgeTest, StopsTheJob) {
  const ChangeCase& c = GetParam();
  sim::Status status;
  status.magentaSpits = 480 * kMillion;
  Report(status);
  sim::Cartridge put;
  put.cartStatus = c.cartStatus;
  put.newCart = 0;
  put.yellowSpits = 1000;
  printer_->QueueCartridges({put, put, put});
  if (c.cartStatus == 0) {
    sim::Trigger silent;
    silent.when = sim::When::AfterCommand;
    silent.command = Command::CartridgeChangeEnd;
    silent.change.readMode = sim::ReadOutcome{sim::ReadFault::Fail, 0};
    printer_->AddTrigger(silent);
  }
  std::vector<int> answers = {IDYES};
  answers.insert(answers.end(), c.answers.begin(), c.answers.end());
  host::QueueAnswers(answers);

  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), c.boxes);
  EXPECT_EQ(DeletedJobs(), std::vector<DWORD>{1});
  const size_t passes = static_cast<size_t>(std::count(c.boxes.begin(), c.boxes.end(), 427u));
  std::vector<Command> commands;
  for (size_t i = 0; i < passes; ++i) {
    commands.push_back(Command::CartridgeChangeStart);
    commands.push_back(Command::CartridgeChangeEnd);
  }
  EXPECT_EQ(printer_->Commands(), commands);
  EXPECT_EQ(Logged(Inform(" **Check Cartridges user chose to cancel\n")), c.cancelled);
  EXPECT_EQ(Logged(Warning("3 questions went unanswered: giving up\n")), c.givenUp);
  if (c.cartStatus == 0) {
    EXPECT_FALSE(Logged(Inform("In CheckCartridges\n"))) << "no status, nothing to classify";
  }
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 2) << "no new cartridge: no reset";
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangeWithoutCartridgeTest,
    ::testing::Values(
        ChangeCase{"InvalidOkThenCancel",
                   0x10,
                   {IDOK, IDOK, IDOK, IDCANCEL},
                   {469, 427, 445, 427, 445},
                   true,
                   false},
        ChangeCase{"MissingOkThenCancel",
                   0x20,
                   {IDOK, IDOK, IDOK, IDCANCEL},
                   {469, 427, 450, 427, 450},
                   true,
                   false},
        // Answers are not counted: OK at 445 more often than the bound goes on changing.
        ChangeCase{"InvalidOkPastTheBoundThenCancel",
                   0x10,
                   {IDOK, IDOK, IDOK, IDOK, IDOK, IDOK, IDOK, IDOK, IDOK, IDCANCEL},
                   {469, 427, 445, 427, 445, 427, 445, 427, 445, 427, 445},
                   true,
                   false},
        ChangeCase{"NoStatusCancel", 0, {IDOK, IDCANCEL}, {469, 427, 464}, false, false},
        ChangeCase{"InvalidUnanswered", 0x10, {}, {469, 427, 445, 427, 445, 427, 445}, false, true},
        ChangeCase{"MissingUnanswered", 0x20, {}, {469, 427, 450, 427, 450, 427, 450}, false, true},
        ChangeCase{"NoStatusUnanswered", 0, {}, {469, 427, 464, 427, 464, 427, 464}, false, true}),
    [](const ::testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

TEST_F(PreJobCheckTest, StatusLostDuringACartridgeChangeIsNeverStoredAndThePassIsRepeated) {
  sim::Status status;
  status.magentaSpits = 480 * kMillion;
  status.yellowSpits = 5;
  Report(status);
  QueueFreshCartridge(0, sim::kColorCartType, 777);
  // After the first change the printer goes quiet until the second change ends.
  sim::Trigger quiet;
  quiet.when = sim::When::AfterCommand;
  quiet.command = Command::CartridgeChangeEnd;
  quiet.count = 1;
  quiet.change.readMode = sim::ReadOutcome{sim::ReadFault::BadChecksum, 0};
  printer_->AddTrigger(quiet);
  sim::Trigger back = quiet;
  back.count = 2;
  back.change.readMode = sim::ReadOutcome{};
  printer_->AddTrigger(back);
  host::QueueAnswers({IDYES, IDOK, IDRETRY, IDOK});  // 469, 427, 464, 427
  EXPECT_FALSE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{469, 427, 464, 427}));
  EXPECT_EQ(PrinterSetting(u"YellowSpits"), 777);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 1);
}

TEST_F(PreJobCheckTest, AlignmentRunsForANewCartridgeAndTheJobIsRestarted) {
  sim::Status status;
  status.newCart = 1;
  Report(status);
  sim::AlignmentResult bad;
  bad.markA = bad.markB = '(';
  printer_->QueueAlignmentResults({bad, sim::AlignmentResult{}});
  host::QueueAnswers({IDYES, IDOK, IDOK});  // 400, 453 (print again), 443
  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{400, 453, 443}));
  EXPECT_EQ(printer_->AlignmentPrints().size(), 2u);
  EXPECT_EQ(printer_->Commands(), std::vector<Command>{Command::AlignmentFinish});
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 1);
  // The progress dialog was up during each wait and is gone now.
  const std::vector<host::DialogRecord> dialogs = host::Dialogs();
  ASSERT_EQ(dialogs.size(), 2u);
  for (const host::DialogRecord& dialog : dialogs) {
    EXPECT_EQ(dialog.caption, u"Aligning the Printer...");
    EXPECT_EQ(dialog.controlText, u"Aligning the printer...");
    EXPECT_FALSE(dialog.alive);
  }
}

TEST_F(PreJobCheckTest, AlignmentAnsweredNoAsksToUnloadTheStockFirst) {
  sim::Status status;
  status.newCart = 1;
  status.cartType = '3';
  Report(status);
  host::QueueAnswers({IDNO, IDOK, IDOK});  // 400, 472, 443
  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{400, 472, 443}));
  ASSERT_EQ(printer_->AlignmentPrints().size(), 1u);
  EXPECT_EQ(printer_->AlignmentPrints()[0].family, 'K');
}

// The print file follows the cartridge family; the marks are tested only once a status after a
// print has asked for it, and from then on in every later attempt. Cancel at 453 keeps the
// printer's default values: the alignment is finished and counts as done.
TEST_F(PreJobCheckTest, AlignmentPrintsTheFamilysFileAndTestsMarksOnlyOnceAsked) {
  using Result = sim::AlignmentResult;
  struct Case {
    BYTE cartType;
    std::vector<Result> results;
    std::vector<int> answers;  // at 453
    std::vector<unsigned> boxes;
    std::string files;  // the family of each alignment print
  };
  const Case cases[] = {
      {0x2F, {Result{}}, {}, {400, 443}, "C"},
      {0x30, {Result{}}, {}, {400, 443}, "K"},
      {0x3F, {Result{}}, {}, {400, 443}, "K"},
      {0x40, {Result{}}, {}, {400, 443}, "C"},
      {'C', {Result{0x20, '(', '('}}, {}, {400, 443}, "C"},
      {'C', {Result{0x50, '(', 'A'}}, {}, {400, 443}, "C"},
      {'C',
       {Result{0x50, '(', '('}, Result{0x00, '(', '('}},
       {IDOK, IDCANCEL},
       {400, 453, 453, 443},
       "CC"},
  };
  DWORD jobId = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int{c.cartType} << ", job " << jobId + 1);
    ClearBoxes();
    printer_->ClearEvents();
    const size_t printsBefore = printer_->AlignmentPrints().size();
    sim::Status status;
    status.newCart = 1;
    status.cartType = c.cartType;
    Report(status);
    printer_->QueueAlignmentResults(c.results);
    std::vector<int> answers = {IDYES};
    answers.insert(answers.end(), c.answers.begin(), c.answers.end());
    answers.push_back(IDOK);
    host::QueueAnswers(answers);
    EXPECT_TRUE(Print(1, 600, ++jobId).writeFailed);
    EXPECT_EQ(Boxes(), c.boxes);
    std::string files;
    const std::vector<sim::AlignmentPrint> prints = printer_->AlignmentPrints();
    for (size_t i = printsBefore; i < prints.size(); ++i) {
      files.push_back(prints[i].family);
    }
    EXPECT_EQ(files, c.files);
    EXPECT_EQ(printer_->Commands(), std::vector<Command>{Command::AlignmentFinish});
    EXPECT_EQ(PrinterSetting(u"PrintCounter"), static_cast<int>(jobId)) << "aligned: counted";
  }
  EXPECT_FALSE(Logged(Inform(" ** JOB FAILED: Failed to align carts\n")));
}

TEST_F(PreJobCheckTest, AlignmentCancelledOrFailedStopsTheJobWithoutCounting) {
  sim::Status status;
  status.newCart = 1;
  Report(status);
  host::QueueAnswers({IDCANCEL, IDOK});  // 400, 443
  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{400, 443}));
  EXPECT_TRUE(printer_->AlignmentPrints().empty());

  // The printer falls silent after the alignment print: no values to test, the job stops.
  ClearBoxes();
  sim::Trigger silent;
  silent.when = sim::When::AfterAlignment;
  silent.change.readMode = sim::ReadOutcome{sim::ReadFault::Fail};
  printer_->AddTrigger(silent);
  host::QueueAnswers({IDYES, IDOK});
  EXPECT_TRUE(Print(1, 600, 2).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{400, 443}));
  EXPECT_EQ(printer_->AlignmentPrints().size(), 1u);
  EXPECT_TRUE(Logged(Inform("UNABLE TO GET ALIGNMENT VALUES\n")));
  EXPECT_TRUE(Logged(Inform(" ** JOB FAILED: Failed to align carts\n")));
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
  printer_->SetReadMode(sim::ReadOutcome{});
  Report(status);
  ClearLog();

  std::filesystem::remove(DriverFolder() / "VM_Al250.PRN");
  ClearBoxes();
  host::QueueAnswers({IDYES, IDOK});  // 400, 443 (422 has no text and is not shown)
  EXPECT_TRUE(Print(1, 600, 3).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{400, 443}));
  EXPECT_TRUE(Logged(Inform(" ** JOB FAILED: Failed to align carts\n")));
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
}

TEST_F(PreJobCheckTest, AlignmentCanBeBypassedOnlyWhenThePrinterAllowsIt) {
  sim::Status status;
  status.newCart = 1;
  Report(status);
  WriteText(ModelIni(), "[settings]\nBypassAlignWarning=1\n");
  WriteText(PrinterIni(), "[settings]\nAlignWarningRequired=0\n");
  EXPECT_FALSE(Print(1).writeFailed);
  EXPECT_TRUE(Boxes().empty());

  WriteText(PrinterIni(), "[settings]\n");
  host::QueueAnswers({IDCANCEL, IDOK});
  EXPECT_TRUE(Print(1, 600, 2).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{400, 443}));
}

TEST_F(PreJobCheckTest, InvalidMarksInQuietModeKeepTheDefaultsAfterAFewAttempts) {
  WriteText(ModelIni(), "[settings]\nSHOW_UI=0\n");
  sim::Status status;
  status.newCart = 1;
  Report(status);
  sim::AlignmentResult bad;
  bad.markA = bad.markB = '(';
  printer_->QueueAlignmentResults({bad, bad, bad, bad, bad, bad});
  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(DeletedJobs(), std::vector<DWORD>{1}) << "restarted for the new alignment values";
  EXPECT_EQ(printer_->AlignmentPrints().size(), 3u);
  EXPECT_EQ(Count(Warning("3 questions went unanswered: giving up\n")), 1);
  // The defaults are kept as with Cancel at 453: finished, and counted as aligned.
  EXPECT_EQ(printer_->Commands(), std::vector<Command>{Command::AlignmentFinish});
  EXPECT_FALSE(Logged(Inform(" ** JOB FAILED: Failed to align carts\n")));
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 1);
  EXPECT_TRUE(host::MessageBoxes().empty());
}

// ---- Two printers on two ports, "Label B" in quiet mode --------------------------------------

// The hook of a port monitor that runs something of the test's while it starts a job, then
// refuses it.
std::function<void()> gWhileStarting;
BOOL WINAPI RefuseStartAfterHook(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE) {
  gWhileStarting();
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

class TwoPrintersTest : public PreJobCheckTest {
 protected:
  void SetUp() override {
    PreJobCheckTest::SetUp();
    quiet_ = sim::AddPrinter(u"USB002");
    quiet_->SetSpitsPerByte(0, 0, 0);
    sim::RegisterPrinter(u"Label B", DriverFolder().string());
    const std::filesystem::path folder = AppDataFolder() / "VMT" / "Drivers" / "Label B";
    std::filesystem::create_directories(folder);
    WriteText(folder / "VM_lp250.ini", "[settings]\nSHOW_UI=0\n");
    quietSpooler_ = std::make_unique<sim::Spooler>(monitor_);
    ASSERT_TRUE(quietSpooler_->OpenPort(u"USB002", u"Label B"));
  }

  void TearDown() override {
    if (quietSpooler_ && quietSpooler_->PortHandle() != nullptr) {
      quietSpooler_->ClosePort();
    }
    quietSpooler_.reset();
    gWhileStarting = nullptr;
    PreJobCheckTest::TearDown();
  }

  HANDLE Port(bool quiet) const {
    return quiet ? quietSpooler_->PortHandle() : spooler_->PortHandle();
  }

  // A job's start on the quiet printer's port or the other one, as the spooler makes it.
  BOOL Start(bool quiet, DWORD jobId) const {
    std::u16string printer = quiet ? u"Label B" : u"Label A";
    std::u16string document = u"Labels";
    DOC_INFO_1W docInfo = {document.data(), nullptr, nullptr};
    return PJLMonStartDocPort(Port(quiet), printer.data(), jobId, 1,
                              reinterpret_cast<LPBYTE>(&docInfo));
  }

  // The job's data, the preamble first: the label's header runs the pre-job check. TRUE when
  // every byte went out.
  BOOL Write(bool quiet, DWORD jobId) const {
    std::vector<BYTE> data = sim::MakeJobData(1, 600, jobId);
    DWORD written = 0;
    if (!PJLWritePort(Port(quiet), data.data(), sim::kJobPreambleSize, &written)) {
      return FALSE;
    }
    const DWORD rest = static_cast<DWORD>(data.size()) - sim::kJobPreambleSize;
    return PJLWritePort(Port(quiet), data.data() + sim::kJobPreambleSize, rest, &written);
  }

  // Both printers report low ink and a new cartridge to be aligned.
  void ReportLowInkAndNewCartridge() {
    sim::Status status;
    status.magentaSpits = 480 * kMillion;
    status.newCart = 1;
    Report(status);
    quiet_->SetStatus(status);
  }

  std::filesystem::path QuietPrinterIni() const {
    return AppDataFolder() / "VMT" / "Drivers" / "Label B" / "Label B.ini";
  }

  int QuietPrinterSetting(const char16_t* key) const {
    std::u16string file;
    for (char c : QuietPrinterIni().string()) {
      file.push_back(static_cast<char16_t>(c));
    }
    return static_cast<int>(GetPrivateProfileIntW(u"settings", key, -999, file.c_str()));
  }

  std::shared_ptr<sim::SimPrinter> quiet_;
  std::unique_ptr<sim::Spooler> quietSpooler_;
};

// Whichever printer's job started last, each check asks as its own printer says: the quiet one
// nothing (no box, no progress dialog), the other its questions as usual.
TEST_F(TwoPrintersTest, EachJobsChecksFollowItsOwnPrintersQuietMode) {
  for (const bool quietStartsLast : {true, false}) {
    SCOPED_TRACE(quietStartsLast ? "quiet printer's job started last" : "quiet one first");
    ClearBoxes();
    const size_t dialogsBefore = host::Dialogs().size();
    host::ClearSetJobCalls();
    ReportLowInkAndNewCartridge();
    WriteText(PrinterIni(), "[settings]\n");
    WriteText(QuietPrinterIni(), "[settings]\n");
    const DWORD shownJob = quietStartsLast ? 1 : 3;
    const DWORD quietJob = shownJob + 1;
    ASSERT_TRUE(Start(!quietStartsLast, quietStartsLast ? shownJob : quietJob));
    ASSERT_TRUE(Start(quietStartsLast, quietStartsLast ? quietJob : shownJob));
    host::QueueAnswers({IDNO, IDYES, IDOK});  // 469, 400, 443
    // Both jobs are stopped, to be sent again for the new alignment values.
    EXPECT_FALSE(Write(false, shownJob));
    EXPECT_FALSE(Write(true, quietJob));
    EXPECT_EQ(Boxes(), (std::vector<unsigned>{469, 400, 443}));
    EXPECT_EQ(host::Dialogs().size() - dialogsBefore, 1u) << "only the shown printer's alignment";
    EXPECT_EQ(DeletedJobs(), (std::vector<DWORD>{shownJob, quietJob}));
    EXPECT_EQ(QuietPrinterSetting(u"WarnLevelColor"), 2) << "warned, without a box";
    EXPECT_TRUE(PJLMonEndDocPort(Port(false)));
    EXPECT_TRUE(PJLMonEndDocPort(Port(true)));
  }
  EXPECT_EQ(printer_->AlignmentPrints().size(), 2u);
  EXPECT_EQ(quiet_->AlignmentPrints().size(), 2u);
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 2);
}

// A hundred other printers' files are read between two jobs of the quiet printer, whose model
// file someone then holds sharing nothing: its port is open, so what it read is kept, and its
// next job is as quiet as ever.
TEST_F(TwoPrintersTest, QuietModeOutlastsAHundredOtherPrintersWhileItsFileIsHeld) {
  ASSERT_TRUE(Start(true, 1));
  EXPECT_TRUE(PJLMonEndDocPort(Port(true)));
  for (int i = 0; i < 100; ++i) {
    std::u16string name = u"Other " + std::u16string(1, static_cast<char16_t>(u'A' + i / 26)) +
                          std::u16string(1, static_cast<char16_t>(u'a' + i % 26));
    sim::RegisterPrinter(name, DriverFolder().string());
    const std::filesystem::path folder =
        AppDataFolder() / "VMT" / "Drivers" / host::NativePath(name);
    std::filesystem::create_directories(folder);
    WriteText(folder / "VM_lp250.ini", "[settings]\nSHOW_UI=1\n");
    WriteText(folder / (host::NativePath(name) + ".ini"), "[settings]\nPrintCounter=4\n");
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
    EXPECT_TRUE(LoadQuietModeSetting(printer));
    HeldSettings held;
    ASSERT_TRUE(HoldPrinterSettings(printer, name.c_str(), &held));
    EXPECT_EQ(ReadHeldSetting(&held, WSTR("PrintCounter"), 0), 4u);
    ReleaseSettings(&held);
    ClosePrinter(printer);
  }
  const std::u16string model =
      (AppDataFolder() / "VMT" / "Drivers" / "Label B" / "VM_lp250.ini").u16string();
  const HANDLE holder =
      CreateFileW(model.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Start(true, 2));
  EXPECT_FALSE(fShowUI.load());
  ASSERT_NE(PortOfHandle(Port(true))->pIniJob, nullptr);
  EXPECT_EQ(PortOfHandle(Port(true))->pIniJob->prompts, JobPrompts::Quiet);
  EXPECT_TRUE(PJLMonEndDocPort(Port(true)));
  CloseHandle(holder);
}

// Another printer's quiet job that starts while 469 is up leaves the rest of this change asked.
TEST_F(TwoPrintersTest, QuietJobStartingDuringAChangeLeavesItsInstructionsShown) {
  sim::Status status;
  status.magentaSpits = 480 * kMillion;
  Report(status);
  QueueFreshCartridge(0);
  AnswerEach({{469, {IDYES}}, {427, {IDOK}}}, [this](unsigned id, int) {
    if (id == 469) {
      EXPECT_TRUE(Start(true, 9));
    }
  });
  EXPECT_FALSE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{469, 427}));
  EXPECT_EQ(printer_->Commands(),
            (std::vector<Command>{Command::CartridgeChangeStart, Command::CartridgeChangeEnd}));
  EXPECT_EQ(PrinterSetting(u"WarnLevelColor"), 1);
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), 1);
  EXPECT_TRUE(PJLMonEndDocPort(Port(true)));
}

// The notice of a failed start follows that start's own setting, even when another printer's
// job starts between the setting's read and the notice.
TEST_F(TwoPrintersTest, FailedStartOfTheQuietPrinterGivesNoNotice) {
  PortOfHandle(Port(true))->PortMonitor.pfnStartDocPort = RefuseStartAfterHook;
  gWhileStarting = [this] { EXPECT_TRUE(Start(false, 1)); };
  EXPECT_FALSE(Start(true, 2));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(fWarnedOnFailedStart.load()) << "counted as warned all the same";
  EXPECT_TRUE(Write(false, 1));
  EXPECT_TRUE(PJLMonEndDocPort(Port(false)));
}

// ---- Quiet mode: nobody is asked, so the printer alone ends each wait -------------------------

class QuietCheckTest : public PreJobCheckTest {
 protected:
  void SetUp() override {
    PreJobCheckTest::SetUp();
    WriteText(ModelIni(), "[settings]\nSHOW_UI=0\n");
  }

  // Applies `change` to the printer `ms` after the job starts.
  void ChangeAfter(DWORD ms, const sim::StateChange& change) {
    sim::Trigger trigger;
    trigger.when = sim::When::AfterJobStart;
    trigger.delayMs = ms;
    trigger.change = change;
    printer_->AddTrigger(trigger);
  }

  // The job printed whole, counted once per label, and nothing was shown.
  void ExpectPrintedAfter(DWORD ms, unsigned labels) {
    EXPECT_TRUE(host::MessageBoxes().empty());
    EXPECT_TRUE(DeletedJobs().empty());
    EXPECT_EQ(printer_->JobData(), lastJobData_);
    EXPECT_EQ(PrinterSetting(u"PrintCounter"), static_cast<int>(labels));
    EXPECT_GE(GetTickCount(), ms) << "the job went on only once the printer was fixed";
  }
};

TEST_F(QuietCheckTest, StockLoadedLaterPrintsTheJob) {
  sim::Status status;
  status.errorFlags = 0x01;
  Report(status);
  sim::StateChange loaded;
  loaded.errorFlags = 0;
  ChangeAfter(20000, loaded);
  EXPECT_FALSE(Print(2).writeFailed);
  ExpectPrintedAfter(20000, 2);
  EXPECT_FALSE(Logged(Warning("3 questions went unanswered: giving up\n")));
}

TEST_F(QuietCheckTest, EmptyCartridgeClearedAtThePrinterPrintsTheJob) {
  sim::Status status;
  status.yellowSpits = 900 * kMillion;
  status.errorFlags = 0x02;
  Report(status);
  sim::StateChange cleared;
  cleared.errorFlags = 0;
  ChangeAfter(20000, cleared);
  EXPECT_FALSE(Print(1).writeFailed);
  ExpectPrintedAfter(20000, 1);
  // Asked about every job, since level 5 is never stored.
  EXPECT_EQ(printer_->Commands(), std::vector<Command>{Command::CartridgeEmpty});
}

TEST_F(QuietCheckTest, PrinterSwitchedOnAfterMinutesPrintsTheJob) {
  printer_->SetReadMode(sim::ReadOutcome{sim::ReadFault::Empty, 0});
  sim::StateChange on;
  on.readMode = sim::ReadOutcome{};
  ChangeAfter(400000, on);
  EXPECT_FALSE(Print(1).writeFailed);
  ExpectPrintedAfter(400000, 1);
  // Three reads of two minutes each fail; the fourth finds the printer on.
  EXPECT_EQ(Count(Inform(" ** PrepareForNextPrint: FAILED to get RoboStatus\n")), 3);
}

// Where nothing but an answer ends a loop, a few unanswered questions end it.
TEST_F(QuietCheckTest, EmptyCartridgeWhoseCommandIsRefusedStopsTheJob) {
  sim::Status status;
  status.yellowSpits = 900 * kMillion;
  Report(status);
  // The job's first write goes through; the next write, the cartridge-empty command, is refused.
  printer_->QueueWrites({sim::WriteOutcome{}, sim::WriteOutcome{sim::WriteFault::Fail, 0}});
  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(DeletedJobs(), std::vector<DWORD>{1});
  EXPECT_EQ(RefusedWrites(), std::vector<std::vector<BYTE>>{kCartEmptyBytes});
  EXPECT_TRUE(printer_->Commands().empty()) << "no cartridge change without an answer";
  EXPECT_EQ(Count(Warning("3 questions went unanswered: giving up\n")), 1);
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
  EXPECT_EQ(printer_->JobData().size(), sim::kJobPreambleSize);
}

}  // namespace
}  // namespace langmon_test
