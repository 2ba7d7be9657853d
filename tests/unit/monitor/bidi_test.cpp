// Ink levels through the MONITOR2 table's bidi entry, over the simulated printer and its port
// monitor, which has a bidi entry of its own: what the monitor answers, from which status record
// or settings, what it passes on, and how both answers come back in one container.
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
    EXPECT_EQ(host::BadBidiFrees(), 0u) << "no block freed twice or from elsewhere";
  }

  // The port, opened again over the port monitor's MONITOR2 form; once `started`, a job has
  // started and ended on it, so the monitor knows when the port is free.
  void Reopen(bool portMonitorBidi, bool started = true) {
    if (spooler_->PortHandle() != nullptr) {
      spooler_->ClosePort();
    }
    spooler_ = std::make_unique<sim::Spooler>(table_, hMonitor_, portMonitorBidi);
    ASSERT_TRUE(spooler_->OpenPort(kPortName, kPrinterName));
    if (started) {
      Start(1);
      ASSERT_TRUE(table_->pfnEndDocPort(spooler_->PortHandle()));
    }
  }

  void Start(DWORD jobId) {
    std::u16string printer = kPrinterName;
    ASSERT_TRUE(table_->pfnStartDocPort(spooler_->PortHandle(), printer.data(), jobId, 1,
                                        reinterpret_cast<LPBYTE>(&docInfo_)));
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
    EXPECT_EQ(Ask(u"GetAll", {schema}, &answers), 0u);
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

  // The EnumSchema entries of the four values of each named ink.
  static std::vector<BidiAnswer> SchemaList(DWORD request, std::vector<std::u16string> names) {
    std::vector<BidiAnswer> list;
    for (const std::u16string& name : names) {
      for (const char16_t* property : {u":Type", u":Color", u":Installed", u":Level"}) {
        list.push_back(Listed(request, u"\\Printer.Consumables." + name + property));
      }
    }
    return list;
  }

  size_t Reads() {
    size_t reads = 0;
    for (const sim::Event& event : printer_->Events()) {
      reads += event.kind == sim::EventKind::Read ? 1 : 0;
    }
    return reads;
  }

  // The requests of the port monitor's latest bidi call; none when it had no call.
  std::vector<sim::BidiRequest> Passed() {
    const std::vector<sim::BidiCall> calls = printer_->BidiCalls();
    return calls.empty() ? std::vector<sim::BidiRequest>{} : calls.back().requests;
  }

  LPMONITOR2 table_ = nullptr;
  HANDLE hMonitor_ = nullptr;
  DOC_INFO_1W docInfo_ = {const_cast<LPWSTR>(u"Labels"), nullptr, nullptr};
  long bidiAtStart_ = 0;
};

TEST_F(BidiTest, ColourCartridgeLevelsArePerCentOfTheConfiguredLimitLeftRoundedHalfUp) {
  // Limit 500 million: 100 M used leaves 80 %, 447.5 M leaves 10.5 % (11), 600 M is over it.
  Report(Color(100000000, 447500000, 600000000));
  EXPECT_EQ(GetAll(), Join({ConsumableAnswers(41, u"Yellow", TRUE, 80),
                            ConsumableAnswers(41, u"Magenta", TRUE, 11),
                            ConsumableAnswers(41, u"Cyan", TRUE, 0)}));
  // Names in any case: the whole property, one consumable, one value.
  EXPECT_EQ(GetAll(u"\\PRINTER.consumables"), GetAll());
  EXPECT_EQ(GetAll(u"\\printer.CONSUMABLES.magenta"), ConsumableAnswers(41, u"Magenta", TRUE, 11));
  EXPECT_EQ(GetAll(u"\\printer.consumables.cyan:LEVEL"),
            (std::vector<BidiAnswer>{Number(1, 41, u"\\Printer.Consumables.Cyan:Level", 0)}));

  // Without a model settings file, the limits are the defaults the pre-job check uses (515 M).
  std::filesystem::remove(ModelIni());
  Report(Color(0, 51500000, 515000000));
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Magenta"), ConsumableAnswers(41, u"Magenta", TRUE, 90));
}

TEST_F(BidiTest, BlackFamilyCartridgesReportOneBlackInkOnTheYellowCounter) {
  sim::Status status = Color(150000000, 999000000, 999000000);
  status.cartType = '1';  // limit BlackSpits, 300 M
  Report(status);
  EXPECT_EQ(GetAll(), ConsumableAnswers(41, u"Black", TRUE, 50));

  status.cartType = '0';  // the pigment black cartridge: PigBlackSpits, 3 M
  status.yellowSpits = 1000000;
  Report(status);
  EXPECT_EQ(GetAll(), ConsumableAnswers(41, u"Black", TRUE, 67));
}

TEST_F(BidiTest, LevelsAreUnknownWithoutSettingsOrCartridgeAndEveryInkWithoutStatus) {
  // No cartridge in the printer, whose settings are all in place: no ink, so no level.
  sim::Status missing = Color(100000000, 0, 0);
  missing.cartStatus = 0x20;
  Report(missing);
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Yellow"), ConsumableAnswers(41, u"Yellow", FALSE, -1));

  Report(Color(100000000, 0, 0));
  // The printer cannot be opened for its settings, or reports no name for them, or there is no
  // application-data folder: no limit, so no level.
  for (unsigned nth : {1u, 2u}) {
    host::FailSpoolerCall(nth);
    EXPECT_EQ(GetAll(u"\\Printer.Consumables.Yellow"), ConsumableAnswers(41, u"Yellow", TRUE, -1));
  }
  EXPECT_EQ(host::OpenPrinterHandles(), 0);
  host::SetCommonAppDataFolder("");
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Yellow"), ConsumableAnswers(41, u"Yellow", TRUE, -1));

  // A printer that does not answer: the cartridge is not known, so neither is any ink.
  printer_->SetReadMode({sim::ReadFault::Empty, 0});
  EXPECT_EQ(GetAll(), Join({ConsumableAnswers(41, u"Yellow", FALSE, -1),
                            ConsumableAnswers(41, u"Magenta", FALSE, -1),
                            ConsumableAnswers(41, u"Cyan", FALSE, -1),
                            ConsumableAnswers(41, u"Black", FALSE, -1)}));
}

TEST_F(BidiTest, DuringAJobTheLastRecordTheJobReadIsAnsweredWithoutReadingThePrinter) {
  std::vector<BidiAnswer> answers;
  // A job that has not read any status yet: nothing is known, and the printer is not asked.
  Start(7);
  const size_t readsBefore = Reads();
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Cyan:Level"),
            (std::vector<BidiAnswer>{Number(1, 41, u"\\Printer.Consumables.Cyan:Level", -1)}));
  EXPECT_EQ(Reads(), readsBefore);
  ASSERT_TRUE(table_->pfnEndDocPort(spooler_->PortHandle()));

  // The next job's check reads 250 M; then the printer's counters move on, unread.
  Report(Color(0, 0, 250000000));
  ASSERT_TRUE(Print(1, 100, 8).ended);
  Report(Color(0, 0, 400000000));
  Start(9);
  const size_t readsInJob = Reads();
  EXPECT_EQ(Ask(u"Get", {u"\\Printer.Consumables.Cyan:Level"}, &answers), 0u);
  EXPECT_EQ(answers,
            (std::vector<BidiAnswer>{Number(1, 41, u"\\Printer.Consumables.Cyan:Level", 50)}));
  EXPECT_EQ(Reads(), readsInJob);
  ASSERT_TRUE(table_->pfnEndDocPort(spooler_->PortHandle()));

  // Between jobs the printer is read again.
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Cyan:Level"),
            (std::vector<BidiAnswer>{Number(1, 41, u"\\Printer.Consumables.Cyan:Level", 20)}));
  EXPECT_GT(Reads(), readsInJob);
}

// Until a job has started on the port the monitor cannot tell whether one is running (with the
// printer's bidirectional support off the spooler never says), so it never reads the printer:
// the counters the last check stored answer.
TEST_F(BidiTest, BeforeAnyJobStartTheStoredCountersAnswerAndThePrinterIsNotRead) {
  WriteText(PrinterIni(),
            "[settings]\nYellowSpits=100000000\nMagentaSpits=4294967295\nWarnLevelColor=2\n");
  Report(Color(0, 0, 0));
  Reopen(true, false);
  const size_t readsBefore = Reads();
  EXPECT_EQ(GetAll(), Join({ConsumableAnswers(41, u"Yellow", FALSE, 80),
                            ConsumableAnswers(41, u"Magenta", FALSE, 0),
                            ConsumableAnswers(41, u"Cyan", FALSE, -1),
                            ConsumableAnswers(41, u"Black", FALSE, -1)}));
  std::vector<BidiAnswer> answers;
  EXPECT_EQ(Ask(u"EnumSchema", {u""}, &answers), 0u);
  EXPECT_EQ(answers, Join({SchemaList(41, {u"Yellow", u"Magenta", u"Cyan", u"Black"}),
                           {Listed(41, u"\\Printer.Port:Name")}}));
  // A port opened for no printer has no settings to answer from.
  spooler_->ClosePort();
  spooler_ = std::make_unique<sim::Spooler>(table_, hMonitor_, true);
  ASSERT_TRUE(spooler_->OpenPort(kPortName, u""));
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Magenta:Level"),
            (std::vector<BidiAnswer>{Number(1, 41, u"\\Printer.Consumables.Magenta:Level", -1)}));
  Reopen(true, false);
  std::filesystem::remove(PrinterIni());
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Yellow:Level"),
            (std::vector<BidiAnswer>{Number(1, 41, u"\\Printer.Consumables.Yellow:Level", -1)}));
  EXPECT_EQ(Reads(), readsBefore);

  // Once a job has come and gone, the port is known to be free between jobs.
  Start(2);
  ASSERT_TRUE(table_->pfnEndDocPort(spooler_->PortHandle()));
  EXPECT_EQ(GetAll(u"\\Printer.Consumables.Yellow:Installed"),
            (std::vector<BidiAnswer>{Number(3, 41, u"\\Printer.Consumables.Yellow:Installed", 1)}));
  EXPECT_GT(Reads(), readsBefore);
}

TEST_F(BidiTest, AMixedGetIsSharedWithThePortMonitorAndComesBackAsOneContainer) {
  Report(Color(100000000, 200000000, 300000000));
  std::vector<BidiAnswer> answers;
  ASSERT_EQ(Ask(u"Get",
                {u"\\printer.consumables.MAGENTA:level", u"\\Printer.Consumables.Black:Level",
                 u"\\Printer.Consumables.Yellow", u"\\Printer.Configuration:Memory",
                 u"\\Printer.ConsumablesX:Level", u"\\Printer.Consumables:Count"},
                &answers),
            0u);
  // The monitor's answers, then the port monitor's, each with the caller's own number.
  EXPECT_EQ(answers,
            (std::vector<BidiAnswer>{Number(1, 41, u"\\Printer.Consumables.Magenta:Level", 60),
                                     Refusal(13005, 42, u"\\Printer.Consumables.Black:Level"),
                                     Refusal(13005, 43, u"\\Printer.Consumables.Yellow"),
                                     Text(4, 44, u"\\Printer.Configuration:Memory", u"USB001"),
                                     Text(4, 45, u"\\Printer.ConsumablesX:Level", u"USB001"),
                                     Text(4, 46, u"\\Printer.Consumables:Count", u"USB001")}));
  EXPECT_EQ(printer_->BidiCalls().size(), 1u) << "one call for all of the port monitor's";
  EXPECT_EQ(Passed(), (std::vector<sim::BidiRequest>{{44, u"\\Printer.Configuration:Memory"},
                                                     {45, u"\\Printer.ConsumablesX:Level"},
                                                     {46, u"\\Printer.Consumables:Count"}}));

  // GetAll \Printer: every value below it, the monitor's and the port monitor's.
  answers = GetAll(u"\\Printer");
  EXPECT_EQ(answers, Join({ConsumableAnswers(41, u"Yellow", TRUE, 80),
                           ConsumableAnswers(41, u"Magenta", TRUE, 60),
                           ConsumableAnswers(41, u"Cyan", TRUE, 40),
                           {Text(4, 41, u"\\Printer", u"USB001")}}));
  EXPECT_EQ(Passed(), (std::vector<sim::BidiRequest>{{41, u"\\Printer"}}));
  GetAll();
  EXPECT_EQ(printer_->BidiCalls().size(), 2u) << "\\Printer.Consumables is the monitor's alone";
}

TEST_F(BidiTest, EnumSchemaListsTheMonitorsSchemasThenThePortMonitorsWhateverTheRequestSays) {
  Report(Color(0, 0, 0));
  std::vector<BidiAnswer> answers;
  ASSERT_EQ(Ask(u"EnumSchema", {u"\\Printer.Consumables.Cyan"}, &answers), 0u);
  EXPECT_EQ(answers, Join({SchemaList(41, {u"Yellow", u"Magenta", u"Cyan"}),
                           {Listed(41, u"\\Printer.Port:Name")}}));
  EXPECT_EQ(Passed(), (std::vector<sim::BidiRequest>{{41, u"\\Printer.Consumables.Cyan"}}));

  sim::Status black;
  black.cartType = '5';
  Report(black);
  printer_->SetBidiResult(13004);
  ASSERT_EQ(Ask(u"EnumSchema", {u"\\Printer"}, &answers), 0u);
  EXPECT_EQ(answers, SchemaList(41, {u"Black"})) << "a failing port monitor lists nothing";

  Reopen(false);
  ASSERT_EQ(Ask(u"EnumSchema", {u"\\Printer"}, &answers), 0u);
  EXPECT_EQ(answers, SchemaList(41, {u"Black"}));
}

TEST_F(BidiTest, APortMonitorThatFailsOrHasNoBidiLeavesTheMonitorsAnswersIntact) {
  Report(Color(100000000, 0, 0));
  const std::vector<std::u16string> mixed = {u"\\Printer.Consumables.Yellow:Level",
                                             u"\\Printer.Configuration:Memory",
                                             u"\\Printer.Layout"};
  std::vector<BidiAnswer> answers;
  printer_->SetBidiResult(13004);
  ASSERT_EQ(Ask(u"Get", mixed, &answers), 0u);
  EXPECT_EQ(answers,
            (std::vector<BidiAnswer>{Number(1, 41, u"\\Printer.Consumables.Yellow:Level", 80),
                                     Refusal(13004, 42, u"\\Printer.Configuration:Memory"),
                                     Refusal(13004, 43, u"\\Printer.Layout")}));

  Reopen(false);
  ASSERT_EQ(Ask(u"Get", mixed, &answers), 0u);
  EXPECT_EQ(answers,
            (std::vector<BidiAnswer>{Number(1, 41, u"\\Printer.Consumables.Yellow:Level", 80),
                                     Refusal(50, 42, u"\\Printer.Configuration:Memory"),
                                     Refusal(50, 43, u"\\Printer.Layout")}));
  EXPECT_EQ(GetAll(u"\\Printer"), Join({ConsumableAnswers(41, u"Yellow", TRUE, 80),
                                        ConsumableAnswers(41, u"Magenta", TRUE, 100),
                                        ConsumableAnswers(41, u"Cyan", TRUE, 100),
                                        {Refusal(50, 41, u"\\Printer")}}));
  // Nothing of the monitor's asked: there is no answer at all.
  EXPECT_EQ(Ask(u"GetAll", {u"\\Printer.Configuration"}, &answers), 50u);
  EXPECT_TRUE(answers.empty());
}

TEST_F(BidiTest, ConsumablesAreReadOnlyAndOtherCallsGoToThePortMonitorAsTheyStand) {
  std::vector<BidiAnswer> answers;
  const size_t readsBefore = Reads();
  ASSERT_EQ(Ask(u"Set", {u"\\Printer.Consumables.Cyan:Level", kConsumables}, &answers), 0u);
  EXPECT_EQ(answers,
            (std::vector<BidiAnswer>{Refusal(13002, 41, u"\\Printer.Consumables.Cyan:Level"),
                                     Refusal(13002, 42, u"\\Printer.Consumables")}));
  EXPECT_TRUE(printer_->BidiCalls().empty()) << "nothing passed on";
  EXPECT_EQ(Reads(), readsBefore);
  ASSERT_EQ(Ask(u"Set", {u"\\Printer.Configuration:Memory", u"\\Printer.Consumables.Cyan:Level"},
                &answers),
            0u);
  EXPECT_EQ(answers,
            (std::vector<BidiAnswer>{Refusal(13002, 42, u"\\Printer.Consumables.Cyan:Level"),
                                     Text(4, 41, u"\\Printer.Configuration:Memory", u"USB001")}));
  EXPECT_EQ(Passed(), (std::vector<sim::BidiRequest>{{41, u"\\Printer.Configuration:Memory"}}));

  ASSERT_EQ(Ask(u"GetAll", {u"\\Printer.Configuration", u"\\Printer.Layout"}, &answers), 0u);
  // The simulated port monitor answers with the port's name: it got the call on its own handle.
  EXPECT_EQ(answers, (std::vector<BidiAnswer>{Text(4, 41, u"\\Printer.Configuration", u"USB001"),
                                              Text(4, 42, u"\\Printer.Layout", u"USB001")}));
  printer_->SetBidiResult(13004);
  EXPECT_EQ(Ask(u"Set", {u"\\Printer.Configuration:Memory"}, &answers), 13004u)
      << "the port monitor's own code comes back unchanged";
  EXPECT_EQ(Ask(u"Refresh", {kConsumables}, &answers), 13004u) << "an action it does not know";
  EXPECT_EQ(printer_->BidiCalls().back().action, u"Refresh");
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
  requests.Count = 65537;
  EXPECT_EQ(call(port, u"GetAll", &requests, &out), 87u) << "more requests than any caller sends";
  requests.Count = 1;
  requests.aData[0].pSchema = nullptr;
  requests.aData[0].dwReqNumber = 41;
  EXPECT_EQ(call(port, u"GetAll", &requests, &out), 0u);
  BidiAnswer unnamed = Refusal(87, 41, u"");
  unnamed.noSchema = true;
  EXPECT_EQ(TakeAnswers(out), (std::vector<BidiAnswer>{unnamed}));

  // The most requests a call may carry: each is answered.
  std::vector<BYTE> storage(sizeof(BIDI_REQUEST_CONTAINER) + 65535 * sizeof(BIDI_REQUEST_DATA));
  auto* most = reinterpret_cast<PBIDI_REQUEST_CONTAINER>(storage.data());
  most->Version = 1;
  most->Count = 65536;
  ASSERT_EQ(call(port, u"Get", most, &out), 0u);
  EXPECT_EQ(out->Count, 65536u);
  EXPECT_EQ(out->aData[65535].dwResult, 87u);
  RouterFreeBidiResponseContainer(out);
}

// A port monitor whose answer claims far more entries than its container holds.
DWORD gClaimedAnswers = 0;

DWORD WINAPI ClaimTooManyAnswers(HANDLE, DWORD, LPCWSTR, PBIDI_REQUEST_CONTAINER,
                                 PBIDI_RESPONSE_CONTAINER* answers) {
  *answers = RouterAllocBidiResponseContainer(1);
  (*answers)->Count = gClaimedAnswers;
  return ERROR_SUCCESS;
}

BOOL WINAPI OpenSimulatedPort(HANDLE, LPWSTR name, PHANDLE handle) {
  return sim::PortMonitor().pfnOpenPort(name, handle);
}

// Merged with the monitor's sixteen values (four inks: no job seen on the port yet), nearly four
// billion answers would count 0 in 32 bits. Nothing is merged, and the port monitor's container,
// whose entries cannot be trusted, is released without being walked.
TEST_F(BidiTest, AnAnswerClaimingNearlyFourBillionEntriesIsRefusedAndReleasedWhole) {
  spooler_->ClosePort();
  MONITOR2 claiming = sim::AsMonitor2(sim::PortMonitor(), OpenSimulatedPort);
  claiming.pfnSendRecvBidiDataFromPort = ClaimTooManyAnswers;
  std::u16string portName = kPortName;
  std::u16string printerName = kPrinterName;
  HANDLE port = nullptr;
  ASSERT_TRUE(table_->pfnOpenPortEx(hMonitor_, sim::PortMonitorHandle(), portName.data(),
                                    printerName.data(), &port, &claiming));
  std::u16string printer = u"\\Printer";
  BIDI_REQUEST_CONTAINER requests = {1, 0, 1, {{41, printer.data(), {}}}};
  for (DWORD claimed : {0xFFFFFFF0u, 0xFFFFFFFFu, 0x1000001u}) {
    gClaimedAnswers = claimed;
    PBIDI_RESPONSE_CONTAINER answer = reinterpret_cast<PBIDI_RESPONSE_CONTAINER>(this);
    EXPECT_EQ(
        table_->pfnSendRecvBidiDataFromPort(port, BIDI_ACCESS_USER, u"GetAll", &requests, &answer),
        8u)
        << claimed;
    EXPECT_EQ(answer, nullptr) << claimed;
    EXPECT_EQ(host::LiveBidiAllocations(), bidiAtStart_) << claimed;
  }
  EXPECT_TRUE(table_->pfnClosePort(port));
}

TEST_F(BidiTest, WithoutTheSpoolersAllocatorsOrMemoryNothingIsAnsweredAndNothingLeaks) {
  Report(Color(100000000, 100000000, 100000000));
  std::vector<BidiAnswer> answers;
  for (const char* name : {"RouterAllocBidiResponseContainer", "RouterAllocBidiMem",
                           "RouterFreeBidiResponseContainer"}) {
    host::WithholdSpoolerFunction(name);
    EXPECT_EQ(Ask(u"GetAll", {kConsumables}, &answers), 50u) << name;
    host::WithholdSpoolerFunction(name, false);
  }
  // The container, then the 18 blocks of the 12 answers: every schema, and the texts of the
  // types and colours.
  for (unsigned nth = 1; nth <= 19; ++nth) {
    host::FailBidiAllocation(nth);
    EXPECT_EQ(Ask(u"GetAll", {kConsumables}, &answers), 8u) << "allocation " << nth;
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(host::LiveBidiAllocations(), bidiAtStart_) << "allocation " << nth;
  }
  host::FailBidiAllocation(20);
  EXPECT_EQ(GetAll().size(), 12u);
  // The schema list: after the port monitor's own two blocks, the merged container, then the
  // first path's text.
  for (unsigned nth = 3; nth <= 4; ++nth) {
    host::FailBidiAllocation(nth);
    EXPECT_EQ(Ask(u"EnumSchema", {u""}, &answers), 8u) << "allocation " << nth;
    EXPECT_TRUE(answers.empty());
    EXPECT_EQ(host::LiveBidiAllocations(), bidiAtStart_) << "allocation " << nth;
  }

  // Shared with the port monitor: its container and two strings come first, then the merged
  // container and the monitor's schema. Its strings change hands without a copy.
  const std::vector<std::u16string> mixed = {u"\\Printer.Consumables.Yellow:Level",
                                             u"\\Printer.Configuration:Memory"};
  const BidiAnswer level = Number(1, 41, u"\\Printer.Consumables.Yellow:Level", 80);
  const std::vector<std::vector<BidiAnswer>> expected = {
      {level, Refusal(8, 42, u"\\Printer.Configuration:Memory")},
      {level, {0, 42, u"", 4, u"USB001", 0, true}},
      {level, Text(4, 42, u"\\Printer.Configuration:Memory", u"")},
      {},
      {},
      {level, Text(4, 42, u"\\Printer.Configuration:Memory", u"USB001")}};
  for (unsigned nth = 1; nth <= expected.size(); ++nth) {
    host::FailBidiAllocation(nth);
    EXPECT_EQ(Ask(u"Get", mixed, &answers), expected[nth - 1].empty() ? 8u : 0u) << nth;
    EXPECT_EQ(answers, expected[nth - 1]) << "allocation " << nth;
    EXPECT_EQ(host::LiveBidiAllocations(), bidiAtStart_) << "allocation " << nth;
  }
  // Without memory for the part of the requests it is handed, the port monitor answers its
  // refusal beside the monitor's own answer; without memory for that refusal, nothing at all.
  const size_t portMonitorCalls = printer_->BidiCalls().size();
  for (unsigned nth = 0; nth <= 3; ++nth) {
    host::FailAllocation(1);
    host::FailBidiAllocation(nth);
    EXPECT_EQ(Ask(u"Get", mixed, &answers), nth == 0 ? 0u : 8u) << nth;
    EXPECT_EQ(answers, nth == 0 ? expected[0] : std::vector<BidiAnswer>{}) << nth;
    EXPECT_EQ(host::LiveBidiAllocations(), bidiAtStart_) << nth;
    EXPECT_EQ(printer_->BidiCalls().size(), portMonitorCalls) << "the port monitor is not asked";
  }
  host::FailAllocation(0);
  host::FailBidiAllocation(0);
}

}  // namespace
}  // namespace langmon_test
