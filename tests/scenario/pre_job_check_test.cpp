#include "tests/support/scenario_test.h"

namespace langmon_test {
namespace {

using sim::Command;

class PreJobCheckTest : public ScenarioTest {};

// Spit counts as a colour cartridge reports them; the default limit is 515 million.
constexpr DWORD kMillion = 1000000;

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

TEST_F(PreJobCheckTest, SilentPrinterAsksToRetryAndCancelDeletesTheJobs) {
  printer_->SetAutoStatus(false);
  host::QueueAnswers({IDOK, IDCANCEL});
  const sim::JobResult result = Print(2);
  EXPECT_TRUE(result.writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{454, 454}));
  EXPECT_EQ(DeletedJobs(), std::vector<DWORD>{1});
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
  EXPECT_TRUE(Logged(Inform("PrepareForNextPrint( ) failed!  Jobs Aborted\n")));
  // Only the preamble reached the printer.
  EXPECT_EQ(printer_->JobData().size(), sim::kJobPreambleSize);
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
    host::ClearMessageBoxes();
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

TEST_F(PreJobCheckTest, EmptyCartridgeFlagAloneGoesOnToTheInkCheck) {
  sim::Status status;
  status.errorFlags = 0x02;
  Report(status);
  const sim::JobResult result = Print(1);
  EXPECT_FALSE(result.writeFailed);
  EXPECT_TRUE(Boxes().empty());
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

  host::ClearMessageBoxes();
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

TEST_F(PreJobCheckTest, ChangingAnEmptyCartridgeResetsTheWarnLevelAndAlignsTheNewOne) {
  WriteText(PrinterIni(), "[settings]\nWarnLevelColor=4\n");
  sim::Status status;
  status.yellowSpits = 900 * kMillion;
  Report(status);
  sim::Cartridge fresh;
  fresh.yellowSpits = 1000;
  fresh.newCart = 1;
  printer_->QueueCartridges({fresh});
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
}

TEST_F(PreJobCheckTest, MissingCartridgeIsAskedForAgainAndCancelStopsTheJob) {
  sim::Status status;
  status.magentaSpits = 480 * kMillion;
  Report(status);
  sim::Cartridge none;
  none.cartStatus = 0x20;
  printer_->QueueCartridges({none, none});
  host::QueueAnswers({IDYES, IDOK, IDOK, IDOK, IDCANCEL});  // 469, 427, 450, 427, 450
  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{469, 427, 450, 427, 450}));
  EXPECT_EQ(printer_->Commands().size(), 4u);
  EXPECT_TRUE(Logged(Inform(" **Check Cartridges user chose to cancel\n")));
}

TEST_F(PreJobCheckTest, StatusLostDuringACartridgeChangeIsNeverStoredAndThePassIsRepeated) {
  sim::Status status;
  status.magentaSpits = 480 * kMillion;
  status.yellowSpits = 5;
  Report(status);
  sim::Cartridge fresh;
  fresh.yellowSpits = 777;
  fresh.newCart = 0;
  printer_->QueueCartridges({fresh});
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
  EXPECT_EQ(host::MessageBoxes()[1].caption, u"Language Monitor");
  ASSERT_EQ(printer_->AlignmentPrints().size(), 1u);
  EXPECT_EQ(printer_->AlignmentPrints()[0].family, 'K');
}

TEST_F(PreJobCheckTest, AlignmentCancelledOrFailedStopsTheJobWithoutCounting) {
  sim::Status status;
  status.newCart = 1;
  Report(status);
  host::QueueAnswers({IDCANCEL, IDOK});  // 400, 443
  EXPECT_TRUE(Print(1).writeFailed);
  EXPECT_EQ(Boxes(), (std::vector<unsigned>{400, 443}));
  EXPECT_TRUE(printer_->AlignmentPrints().empty());

  std::filesystem::remove(DriverFolder() / "VM_Al250.PRN");
  host::ClearMessageBoxes();
  host::QueueAnswers({IDYES, IDOK});  // 400, 443 (422 has no text and is not shown)
  EXPECT_TRUE(Print(1, 600, 2).writeFailed);
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
  EXPECT_EQ(printer_->AlignmentPrints().size(), 3u);
  EXPECT_EQ(printer_->Commands(), std::vector<Command>{Command::AlignmentFinish});
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
  EXPECT_TRUE(Logged(Warning("3 questions went unanswered: giving up\n")));
  EXPECT_EQ(PrinterSetting(u"PrintCounter"), -999);
}

}  // namespace
}  // namespace langmon_test
