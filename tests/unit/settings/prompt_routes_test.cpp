// Which way a question goes: the job owner's session, nobody, or the monitor's own desktop.
#include "settings/prompt_routes.h"

#include <filesystem>
#include <functional>

#include "printer/status_reader.h"
#include "settings/message_box.h"
#include "tests/support/sim_port.h"
#include "tests/unit/settings/settings_fixture.h"

namespace langmon_test {
namespace {

class PromptRouteTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    job_.pszPrinterName = const_cast<LPWSTR>(WSTR("Label A"));
    job_.hPrinter = Open(u"Label A");
    job_.JobId = 7;
    host::SetFixedAnswer(IDYES);
  }

  // Question 470 about the job, as the pre-job check asks it.
  int AskAboutJob() {
    return OemPtrMessageBoxForJob(&job_, MAKEINTRESOURCEW(470), WSTR("Label A"), 0x1034);
  }

  IniJob job_ = {};
};

TEST_F(PromptRouteTest, EachSituationTakesTheFirstRouteThatApplies) {
  const std::string nobody = "OemPtrMessageBox(): message 470 not shown: nobody sees session 0 ";
  struct Case {
    const char* name;
    DWORD processSession;
    bool offered;
    DWORD jobSession;
    int answer;
    bool shownInOwnersSession;  // else on the desktop, when shown at all
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {"service, job from a user",
       0,
       true,
       1,
       IDYES,
       true,
       {Inform("OemPtrMessageBox(): message 470 answered 6 in the job owner's session\n")}},
      {"interactive, job from another user",
       1,
       true,
       2,
       IDYES,
       true,
       {Inform("OemPtrMessageBox(): message 470 answered 6 in the job owner's session\n")}},
      {"service, job from session 0",
       0,
       true,
       0,
       0,
       false,
       {Warning(nobody + "(the job came from session 0)\n")}},
      {"service, spooler without the functions",
       0,
       false,
       1,
       0,
       false,
       {Warning(nobody + "(the spooler cannot show it in the job owner's session)\n")}},
      {"interactive, spooler without the functions", 1, false, 1, IDYES, false, {}},
      {"interactive, job from session 0", 1, true, 0, IDYES, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host::ClearMessageBoxes();
    ClearLog();
    host::SetProcessSession(c.processSession);
    host::OfferSessionPrompts(c.offered);
    host::SetJobSession(c.jobSession);
    EXPECT_EQ(AskAboutJob(), c.answer);
    EXPECT_EQ(LogLines(), c.log);
    const std::vector<host::MessageBoxRecord> boxes = host::MessageBoxes();
    if (c.answer == 0) {
      EXPECT_TRUE(boxes.empty());
      continue;
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].ownersSession, c.shownInOwnersSession);
    EXPECT_EQ(boxes[0].textId, 470u);
    EXPECT_EQ(boxes[0].caption, u"Label A");
    EXPECT_EQ(boxes[0].type, 0x1034u);
    EXPECT_EQ(boxes[0].timeoutSeconds, 0u) << "no PromptTimeout: the owner's answer is awaited";
  }

  // A question that belongs to no job has no owner to go to.
  ClearLog();
  host::SetProcessSession(0);
  host::OfferSessionPrompts(true);
  EXPECT_EQ(OemPtrMessageBox(nullptr, MAKEINTRESOURCEW(455), WSTR("Label A"), 0x1010), 0);
  EXPECT_EQ(LogLines(), std::vector<std::string>{Warning(
                            "OemPtrMessageBox(): message 455 not shown: nobody sees session 0 "
                            "(no job to show it with)\n")});
}

// A spooler that cannot tell the job's session is no way to its owner: in session 0 nobody is
// asked, and an interactive process shows the box on its own desktop.
TEST_F(PromptRouteTest, FailedSessionQueryLeavesTheProcesssOwnRoute) {
  host::OfferSessionPrompts(true);
  host::FailSessionQuery(ERROR_INVALID_HANDLE);
  host::SetProcessSession(0);
  EXPECT_EQ(AskAboutJob(), 0);
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_EQ(LogLines(), std::vector<std::string>{Warning(
                            "OemPtrMessageBox(): message 470 not shown: nobody sees session "
                            "0 (the spooler does not know the job's session)\n")});

  ClearLog();
  host::SetProcessSession(1);
  EXPECT_EQ(AskAboutJob(), IDYES);
  ASSERT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_FALSE(host::MessageBoxes()[0].ownersSession);
  EXPECT_EQ(host::MessageBoxes()[0].textId, 470u);
  EXPECT_TRUE(LogLines().empty());
}

// The setting the job's start read outranks the most recent start's, both ways.
TEST_F(PromptRouteTest, AJobsOwnQuietModeOutranksTheLatestStarts) {
  host::OfferSessionPrompts(true);
  job_.prompts = JobPrompts::Quiet;
  fShowUI = TRUE;
  EXPECT_EQ(AskAboutJob(), 0);
  EXPECT_TRUE(host::MessageBoxes().empty());
  job_.prompts = JobPrompts::Shown;
  fShowUI = FALSE;
  EXPECT_EQ(AskAboutJob(), IDYES);
  ASSERT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_TRUE(host::MessageBoxes()[0].ownersSession);
  // A question without a job still follows the latest start.
  EXPECT_EQ(OemPtrMessageBox(nullptr, MAKEINTRESOURCEW(472), nullptr, 0x1000), 0);
  EXPECT_EQ(host::MessageBoxes().size(), 1u);
}

TEST_F(PromptRouteTest, TheOwnersAnswerTimeOutOrFailureOnTheClock) {
  WriteSettingsFile("Label A", "Label A.ini", "PromptTimeout=30\r\n");
  host::SetProcessSession(0);
  host::OfferSessionPrompts(true);

  host::SetJobOwner({10000, 0});
  DWORD start = GetTickCount();
  EXPECT_EQ(AskAboutJob(), IDYES);
  EXPECT_EQ(GetTickCount() - start, 10000u);
  ASSERT_EQ(host::MessageBoxes().size(), 1u);
  EXPECT_EQ(host::MessageBoxes()[0].timeoutSeconds, 30u);

  ClearLog();
  host::SetJobOwner({30000, 0});
  start = GetTickCount();
  EXPECT_EQ(AskAboutJob(), 0);
  EXPECT_EQ(GetTickCount() - start, 30000u);
  EXPECT_EQ(host::MessageBoxes().back().answer, IDTIMEOUT);
  EXPECT_EQ(LogLines(), std::vector<std::string>{Warning(
                            "OemPtrMessageBox(): message 470 not answered within 30 s in the job "
                            "owner's session\n")});

  ClearLog();
  host::SetJobOwner({0, 1168});
  EXPECT_EQ(AskAboutJob(), 0);
  EXPECT_EQ(host::MessageBoxes().back().error, 1168u);
  EXPECT_EQ(LogLines(), std::vector<std::string>{
                            Warning("OemPtrMessageBox(): message 470 could not be shown in the job "
                                    "owner's session (error 1168)\n")});

  // The file held by someone sharing nothing: the time-out read before still holds; one never
  // read does not become a wait for ever.
  const std::u16string ini = WindowsSettingsFolder("Label A") + u"\\Label A.ini";
  const HANDLE holder =
      CreateFileW(ini.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  host::SetJobOwner({200000, 0});
  for (const DWORD expected : {30u, 120u}) {
    start = GetTickCount();
    EXPECT_EQ(AskAboutJob(), 0);
    EXPECT_EQ(host::MessageBoxes().back().timeoutSeconds, expected);
    EXPECT_EQ(GetTickCount() - start, expected * 1000);
    ForgetSettingsMemory();
  }
  CloseHandle(holder);

  // Nor where the file is never used: a second name, a link, a part that cannot be checked (more
  // folders than are held), a path that cannot be built. The question waits for the time-out
  // last known for the printer, or 120 s: another key known of its file does not stand in.
  const std::filesystem::path folder = SettingsFolder("Label A");
  const std::string file = (folder / "Label A.ini").string();
  const std::string real = (folder / "real.ini").string();
  const std::u16string deep = u"D1\\D2\\D3\\D4\\D5\\D6\\D7";
  std::filesystem::create_directories(SettingsFolder("D1/D2/D3/D4/D5/D6/D7"));
  struct Refusal {
    const char* what;
    std::function<void()> apply;
    std::function<void()> undo;
  };
  const Refusal refusals[] = {
      {"a second name", [&] { ASSERT_TRUE(host::PlantHardLink(real, file)); },
       [&] { std::filesystem::remove(real); }},
      {"a link",
       [&] {
         std::filesystem::rename(file, real);
         ASSERT_TRUE(host::PlantSymbolicLink(file, real));
       },
       [&] {
         std::filesystem::remove(file);
         std::filesystem::rename(real, file);
       }},
      {"too many folders", [&] { AddPrinter(u"Label A", deep); }, [&] { AddPrinter(u"Label A"); }},
      {"no path", [&] { AddPrinter(u"Label A", u".."); }, [&] { AddPrinter(u"Label A"); }},
  };
  for (const Refusal& refusal : refusals) {
    ForgetSettingsMemory();
    EXPECT_EQ(AskAboutJob(), 0);
    ASSERT_EQ(host::MessageBoxes().back().timeoutSeconds, 30u) << refusal.what;
    refusal.apply();
    for (const DWORD expected : {30u, 120u}) {
      ClearLog();
      start = GetTickCount();
      EXPECT_EQ(AskAboutJob(), 0);
      EXPECT_EQ(host::MessageBoxes().back().timeoutSeconds, expected) << refusal.what;
      EXPECT_EQ(GetTickCount() - start, expected * 1000) << refusal.what;
      ForgetSettingsMemory();
      RememberReadSetting((WindowsSettingsFolder("Label A") + u"\\Label A.ini").c_str(),
                          WSTR("PrintCounter"), 5, 0);
    }
    refusal.undo();
  }
  EXPECT_EQ(LeakedAllocations(), 0);
}

TEST_F(PromptRouteTest, QuietModeShowsNothingOnAnyRoute) {
  fShowUI = FALSE;
  for (DWORD processSession : {0u, 1u}) {
    for (DWORD jobSession : {0u, 1u}) {
      host::SetProcessSession(processSession);
      host::OfferSessionPrompts(true);
      host::SetJobSession(jobSession);
      EXPECT_EQ(AskAboutJob(), 0);
    }
  }
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_TRUE(LogLines().empty());
}

// The progress dialog is made only where someone can see it.
TEST_F(PromptRouteTest, NoProgressDialogInSessionZero) {
  SimPort port;
  host::SetProcessSession(0);
  StatusRecord record;
  EXPECT_TRUE(WaitForPrinterStatus(port.Port(), &record, 10000, TRUE));
  EXPECT_TRUE(host::Dialogs().empty());
  EXPECT_TRUE(Logged(Inform("WaitForPrinterStatus: no progress dialog in session 0\n")));
}

}  // namespace
}  // namespace langmon_test
