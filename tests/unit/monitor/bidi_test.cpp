// Ink levels through the MONITOR2 table's bidi entry, over the simulated printer: what is
// answered, from which status record, against which settings, and what is passed on or refused.
#include "tests/support/bidi_answers.h"
#include "tests/support/scenario_test.h"

namespace langmon_test {
namespace {

constexpr char16_t kConsumables[] = u"\\Printer.Consumables";

class BidiTest : public ScenarioTest {
 protected:
  void SetUp() override {
    ScenarioTest::SetUp();
    bidiAtStart_ = host::LiveBidiAllocations();
    spooler_->ClosePort();
    MONITORINIT init = {sizeof(MONITORINIT), nullptr, nullptr, nullptr, TRUE, nullptr};
    table_ = InitializePrintMonitor2(&init, &hMonitor_);
    ASSERT_NE(table_, nullptr);
    Reopen(true);
    WriteText(ModelIni(), "[settings]\nColorSpits=500\nBlackSpits=300\nPigBlackSpits=3\n");
  }

  void TearDown() override {
    ScenarioTest::TearDown();
    EXPECT_EQ(host::LiveBidiAllocations(), bidiAtStart_) << "every answer is freed whole";
    EXPECT_EQ(host::BadBidiFrees(), 0u);
  }

  // The port, opened again over the port monitor's MONITOR2 form.
  void Reopen(bool portMonitorBidi) {
    if (spooler_->PortHandle() != nullptr) {
      spooler_->ClosePort();
    }
    spooler_ = std::make_unique<sim::Spooler>(table_, hMonitor_, portMonitorBidi);
    ASSERT_TRUE(spooler_->OpenPort(kPortName, kPrinterName));
  }

  DWORD Ask(const std::u16string& action, const std::vector<std::u16string>& schemas,
            std::vector<BidiAnswer>* answers) {
    PBIDI_RESPONSE_CONTAINER container = nullptr;
    const DWORD result = spooler_->Bidi(action, schemas, &container);
    *answers = TakeAnswers(container);
    return result;
  }

  std::vector<BidiAnswer> GetAll(const std::u16string& schema = kConsumables) {
    std::vector<BidiAnswer> answers;
    EXPECT_EQ(Ask(u"GetAll", {schema}, &answers), static_cast<DWORD>(ERROR_SUCCESS));
    return answers;
  }

  static sim::Status Color(DWORD yellow, DWORD magenta, DWORD cyan) {
    sim::Status status;
    status.yellowSpits = yellow;
    status.magentaSpits = magenta;
    status.cyanSpits = cyan;
    return status;
  }

  static std::vector<BidiAnswer> Join(std::initializer_list<std::vector<BidiAnswer>> parts) {
    std::vector<BidiAnswer> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  }

  size_t Reads() {
    size_t reads = 0;
    for (const sim::Event& event : printer_->Events()) {
      reads += event.kind == sim::EventKind::Read ? 1 : 0;
    }
    return reads;
  }

  LPMONITOR2 table_ = nullptr;
  HANDLE hMonitor_ = nullptr;
  DOC_INFO_1W docInfo_ = {const_cast<LPWSTR>(u"Labels"), nullptr, nullptr};
  long bidiAtStart_ = 0;
};

TEST_F(BidiTest, ColourCartridgeLevelsArePerCentOfTheConfiguredLimitLeftRoundedHalfUp) {
  // Limit 500 million: 100 M used leaves 80 %, 447.5 M leaves 10.5 % (11), 600 M is over it.
  Report(Color(100000000, 447500000, 600000000));
  EXPECT_EQ(GetAll(), Join({ConsumableAnswers(0, u"Yellow", TRUE, 80),
                            ConsumableAnswers(0, u"Magenta", TRUE, 11),
                            ConsumableAnswers(0, u"Cyan", TRUE, 0)}));

  // Without a model settings file, the limits are the defaults the pre-job check uses (515 M).
  std::filesystem::remove(ModelIni());
  Report(Color(0, 51500000, 515000000));
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Magenta"), ConsumableAnswers(0, u"Magenta", TRUE, 90));
}

TEST_F(BidiTest, BlackFamilyCartridgesReportOneBlackInkOnTheYellowCounter) {
  sim::Status status = Color(150000000, 999000000, 999000000);
  status.cartType = '1';  // limit BlackSpits, 300 M
  Report(status);
  EXPECT_EQ(GetAll(), ConsumableAnswers(0, u"Black", TRUE, 50));

  status.cartType = '0';  // the pigment black cartridge: PigBlackSpits, 3 M
  status.yellowSpits = 1000000;
  Report(status);
  EXPECT_EQ(GetAll(), ConsumableAnswers(0, u"Black", TRUE, 67));
}

TEST_F(BidiTest, LevelsAreUnknownWithoutSettingsOrCartridgeAndEveryInkWithoutStatus) {
  Report(Color(100000000, 0, 0));
  // The printer cannot be opened for its settings, or reports no name for them, or there is no
  // application-data folder: no limit, so no level.
  for (unsigned nth : {1u, 2u}) {
    host::FailSpoolerCall(nth);
    EXPECT_EQ(GetAll(u"\\Printer.Consumables.Yellow"), ConsumableAnswers(0, u"Yellow", TRUE, -1));
  }
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
  host::SetCommonAppDataFolder("");
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Yellow"), ConsumableAnswers(0, u"Yellow", TRUE, -1));

  sim::Status missing = Color(100000000, 0, 0);
  missing.cartStatus = 0x20;
  Report(missing);
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Yellow"), ConsumableAnswers(0, u"Yellow", FALSE, -1));

  // A printer that does not answer: the cartridge is not known, so neither is any ink.
  printer_->SetReadMode({sim::ReadFault::Empty, 0});
  EXPECT_EQ(
      GetAll(),
      Join({ConsumableAnswers(0, u"Yellow", FALSE, -1), ConsumableAnswers(0, u"Magenta", FALSE, -1),
            ConsumableAnswers(0, u"Cyan", FALSE, -1), ConsumableAnswers(0, u"Black", FALSE, -1)}));
}

TEST_F(BidiTest, DuringAJobTheLastRecordTheJobReadIsAnsweredWithoutReadingThePrinter) {
  std::vector<BidiAnswer> answers;
  // A job that has not read any status yet: nothing is known, and the printer is not asked.
  sim::Job job;
  job.data = sim::MakeJobData(1, 100);
  ASSERT_TRUE(table_->pfnStartDocPort(spooler_->PortHandle(), job.printerName.data(), 7, 1,
                                      reinterpret_cast<LPBYTE>(&docInfo_)));
  const size_t readsBefore = Reads();
  EXPECT_EQ(
      GetAll(u"\\Printer.Consumables.Cyan:Level"),
      (std::vector<BidiAnswer>{Number(BIDI_INT, 0, u"\\Printer.Consumables.Cyan:Level", -1)}));
  EXPECT_EQ(Reads(), readsBefore);
  ASSERT_TRUE(table_->pfnEndDocPort(spooler_->PortHandle()));

  // The next job's check reads 250 M; then the printer's counters move on, unread.
  Report(Color(0, 0, 250000000));
  ASSERT_TRUE(Print(1, 100, 8).ended);
  Report(Color(0, 0, 400000000));
  ASSERT_TRUE(table_->pfnStartDocPort(spooler_->PortHandle(), job.printerName.data(), 9, 1,
                                      reinterpret_cast<LPBYTE>(&docInfo_)));
  const size_t readsInJob = Reads();
  EXPECT_EQ(Ask(u"Get", {u"\\Printer.Consumables.Cyan:Level"}, &answers),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(
      answers,
      (std::vector<BidiAnswer>{Number(BIDI_INT, 0, u"\\Printer.Consumables.Cyan:Level", 50)}));
  EXPECT_EQ(Reads(), readsInJob);
  ASSERT_TRUE(table_->pfnEndDocPort(spooler_->PortHandle()));

  // Between jobs the printer is read again.
  EXPECT_EQ(
      GetAll(u"\\Printer.Consumables.Cyan:Level"),
      (std::vector<BidiAnswer>{Number(BIDI_INT, 0, u"\\Printer.Consumables.Cyan:Level", 20)}));
  EXPECT_GT(Reads(), readsInJob);
}

TEST_F(BidiTest, GetNamesOneValueEnumSchemaListsThemAndEachRequestIsAnsweredInTurn) {
  Report(Color(100000000, 200000000, 300000000));
  std::vector<BidiAnswer> answers;
  ASSERT_EQ(Ask(u"Get",
                {u"\\printer.consumables.MAGENTA:level", u"\\Printer.Consumables.Black:Level",
                 u"\\Printer.Consumables.Yellow", u"\\Printer.Configuration:Memory",
                 u"\\Printer.ConsumablesX:Level"},
                &answers),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(answers,
            (std::vector<BidiAnswer>{
                Number(BIDI_INT, 0, u"\\Printer.Consumables.Magenta:Level", 60),
                Refusal(ERROR_BIDI_SCHEMA_NOT_SUPPORTED, 1, u"\\Printer.Consumables.Black:Level"),
                Refusal(ERROR_BIDI_SCHEMA_NOT_SUPPORTED, 2, u"\\Printer.Consumables.Yellow"),
                Refusal(ERROR_NOT_SUPPORTED, 3, u"\\Printer.Configuration:Memory"),
                Refusal(ERROR_NOT_SUPPORTED, 4, u"\\Printer.ConsumablesX:Level")}));
  EXPECT_TRUE(printer_->Events().back().kind != sim::EventKind::Bidi)
      << "a call the monitor answers is not passed on in part";

  ASSERT_EQ(Ask(u"EnumSchema", {u"\\Printer.Consumables.Cyan"}, &answers),
            static_cast<DWORD>(ERROR_SUCCESS));
  const std::u16string cyan = u"\\Printer.Consumables.Cyan";
  EXPECT_EQ(answers, (std::vector<BidiAnswer>{Text(BIDI_STRING, 0, cyan, cyan + u":Type"),
                                              Text(BIDI_STRING, 0, cyan, cyan + u":Color"),
                                              Text(BIDI_STRING, 0, cyan, cyan + u":Installed"),
                                              Text(BIDI_STRING, 0, cyan, cyan + u":Level")}));
}

TEST_F(BidiTest, OtherSchemasAndActionsGoToThePortMonitorOrAreNotSupported) {
  std::vector<BidiAnswer> answers;
  ASSERT_EQ(Ask(u"GetAll", {u"\\Printer.Configuration", u"\\Printer.Layout"}, &answers),
            static_cast<DWORD>(ERROR_SUCCESS));
  // The simulated port monitor answers with the port's name: it got the call on its own handle.
  EXPECT_EQ(answers,
            (std::vector<BidiAnswer>{Text(BIDI_STRING, 0, u"\\Printer.Configuration", u"USB001"),
                                     Text(BIDI_STRING, 1, u"\\Printer.Layout", u"USB001")}));
  EXPECT_EQ(printer_->Events().back().kind, sim::EventKind::Bidi);
  printer_->SetBidiResult(ERROR_BIDI_DEVICE_OFFLINE);
  EXPECT_EQ(Ask(u"Set", {kConsumables}, &answers), static_cast<DWORD>(ERROR_BIDI_DEVICE_OFFLINE))
      << "the port monitor's own code comes back unchanged";
  EXPECT_EQ(printer_->Events().back().text, u"Set");

  Reopen(false);
  EXPECT_EQ(Ask(u"GetAll", {u"\\Printer.Configuration"}, &answers),
            static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_TRUE(answers.empty());
}

TEST_F(BidiTest, MalformedCallsAreRefusedWithTheirOwnCodes) {
  PBIDI_RESPONSE_CONTAINER out = reinterpret_cast<PBIDI_RESPONSE_CONTAINER>(this);
  BIDI_REQUEST_CONTAINER requests = {1, 0, 1, {{0, const_cast<LPWSTR>(kConsumables), {}}}};
  const HANDLE port = spooler_->PortHandle();
  const auto call = [&](HANDLE h, const char16_t* action, PBIDI_REQUEST_CONTAINER in,
                        PBIDI_RESPONSE_CONTAINER* pOut) {
    return PJLMonSendRecvBidiDataFromPort(h, BIDI_ACCESS_USER, action, in, pOut);
  };
  int notAPort = 0;
  EXPECT_EQ(call(nullptr, u"GetAll", &requests, &out), 6u);
  EXPECT_EQ(call(&notAPort, u"GetAll", &requests, &out), 6u);
  EXPECT_EQ(call(port, nullptr, &requests, &out), 87u);
  EXPECT_EQ(call(port, u"GetAll", nullptr, &out), 87u);
  EXPECT_EQ(call(port, u"GetAll", &requests, nullptr), 87u);
  requests.Version = 2;
  EXPECT_EQ(call(port, u"GetAll", &requests, &out), 13u);
  EXPECT_EQ(out, nullptr) << "no answer is handed back with a refusal";
  requests.Version = 1;
  requests.Count = 0;
  EXPECT_EQ(call(port, u"GetAll", &requests, &out), 87u);
  requests.Count = 1;
  requests.aData[0].pSchema = nullptr;
  EXPECT_EQ(call(port, u"GetAll", &requests, &out), 0u);
  EXPECT_EQ(TakeAnswers(out), (std::vector<BidiAnswer>{Refusal(87, 0, u"")}));
}

TEST_F(BidiTest, WithoutTheSpoolersAllocatorsOrMemoryNothingIsAnsweredAndNothingLeaks) {
  Report(Color(100000000, 100000000, 100000000));
  std::vector<BidiAnswer> answers;
  for (const char* name : {"RouterAllocBidiResponseContainer", "RouterAllocBidiMem",
                           "RouterFreeBidiResponseContainer"}) {
    host::WithholdSpoolerFunction(name);
    EXPECT_EQ(Ask(u"GetAll", {kConsumables}, &answers), static_cast<DWORD>(ERROR_NOT_SUPPORTED))
        << name;
    host::WithholdSpoolerFunction(name, false);
  }
  // The container, then the 18 blocks of the 12 answers: every schema, and the texts of the
  // types and colours.
  for (unsigned nth = 1; nth <= 19; ++nth) {
    host::FailBidiAllocation(nth);
    EXPECT_EQ(Ask(u"GetAll", {kConsumables}, &answers), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY))
        << "allocation " << nth;
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(host::LiveBidiAllocations(), 0) << "allocation " << nth;
  }
  host::FailBidiAllocation(20);
  EXPECT_EQ(GetAll().size(), 12u);
  host::FailBidiAllocation(0);
}

}  // namespace
}  // namespace langmon_test
