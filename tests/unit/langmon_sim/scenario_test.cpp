#include "tools/langmon-sim/scenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

namespace langmon_sim {
namespace {

// The error a scenario text gives; fails the test when it parses.
ScenarioError ErrorOf(const std::string& text) {
  try {
    ParseScenario(text, "shop.json");
  } catch (const ScenarioError& error) {
    return error;
  }
  ADD_FAILURE() << "parsed without an error: " << text;
  return ScenarioError("", "", "");
}

constexpr char kOneJob[] = R"("jobs": [{"labels": 1}])";

std::string WithJobs(const std::string& members) {
  return "{" + members + (members.empty() ? "" : ", ") + kOneJob + "}";
}

TEST(ScenarioParseTest, SyntaxErrorsNameTheLineAndColumn) {
  const ScenarioError error = ErrorOf("{\n  \"title\": \"x\",\n  \"jobs\": [}\n}");
  EXPECT_EQ(error.file(), "shop.json");
  EXPECT_EQ(error.place(), "line 3, column 12");
  EXPECT_NE(error.message().find("not valid JSON"), std::string::npos) << error.message();
  EXPECT_EQ(std::string(error.what()).rfind("shop.json: line 3, column 12: ", 0), 0u);
}

TEST(ScenarioParseTest, UnknownKeysAreErrorsWithTheirPathAndANearMatch) {
  ScenarioError error = ErrorOf(WithJobs(R"("printer": {"cartridge": {"yelow_spits": 5}})"));
  EXPECT_EQ(error.place(), "printer.cartridge.yelow_spits");
  EXPECT_NE(error.message().find("did you mean \"yellow_spits\""), std::string::npos)
      << error.message();

  error = ErrorOf(R"({"jobs": [{"labels": 1}, {"label": 2}]})");
  EXPECT_EQ(error.place(), "jobs[1].label");
  EXPECT_NE(error.message().find("\"labels\""), std::string::npos);

  error = ErrorOf(WithJobs(R"("expectations": {})"));
  EXPECT_EQ(error.place(), "expectations");

  // The settings files' keys are known too; case does not matter, as in the INI files.
  error = ErrorOf(WithJobs(R"("settings": {"model": {"ShowUI": 0}})"));
  EXPECT_EQ(error.place(), "settings.model.ShowUI");
  EXPECT_NE(error.message().find("SHOW_UI"), std::string::npos);
  EXPECT_EQ(ParseScenario(WithJobs(R"("settings": {"model": {"show_ui": 0}})"), "s")
                .settings.at("model")
                .at("SHOW_UI"),
            "0");
}

TEST(ScenarioParseTest, WrongValuesSayWhatWasExpected) {
  struct Case {
    std::string members;
    std::string place;
    std::string says;
  };
  const Case cases[] = {
      {R"("printer": {"cartridge": {"type": "magenta"}})", "printer.cartridge.type", "\"color\""},
      {R"("printer": {"error_flags": ["out_of_stok"]})", "printer.error_flags[0]",
       "did you mean \"out_of_stock\""},
      {R"("printer": {"cartridge": {"cyan_spits": -3}})", "printer.cartridge.cyan_spits",
       "whole number"},
      {R"("printer": {"cartridge": {"cyan_spits": "5000M"}})", "printer.cartridge.cyan_spits",
       "millions"},
      {R"("printer": {"align_marks": ["valid"]})", "printer.align_marks", "two marks"},
      {R"("printer": {"responds": false, "read_fault": "busy"})", "printer.read_fault", "not both"},
      {R"("printer": {"changes": [{"set": {"busy": false}}]})", "printer.changes[0]",
       "needs one condition"},
      {R"("printer": {"changes": [{"after_reads": 2, "after_ms": 5, "set": {}}]})",
       "printer.changes[0]", "one condition"},
      {R"("printer": {"changes": [{"after_reads": 0, "set": {}}]})",
       "printer.changes[0].after_reads", "start at 1"},
      {R"("printer": {"changes": [{"after_reads": 2, "count": 2, "set": {}}]})",
       "printer.changes[0].count", "after_command"},
      {R"("answers": ["ok", "maybe"])", "answers[1]", "\"retry\""},
      {R"("answers": [{"box": 469}])", "answers[0]", "needs \"answer\""},
      {R"("quiet": "yes")", "quiet", "true or false"},
      {R"("expect": {"outcome": "printed"})", "expect.outcome", "unknown key"},
      // Two printers: each with a name and a port of its own; a job starts during the previous
      // one only on the other printer.
      {R"({"second_printer": {"name": "Label A"}, "jobs": [{"labels": 1}]})", "second_printer.name",
       "name of its own"},
      {R"({"second_printer": {"name": "Label B"}, "jobs": [{"labels": 1}]})", "second_printer.port",
       "port of its own"},
      {R"({"jobs": [{"printer": "Label B"}]})", "jobs[0].printer", "no printer"},
      {R"({"second_printer": {"name": "Label B", "port": "USB002"},
           "jobs": [{"labels": 1}, {"printer": "Label A", "starts_during_previous": true}]})",
       "jobs[1].starts_during_previous", "other printer"},
      // A printer's name is one folder of the settings, by the monitor's own rules.
      {R"("printer": {"name": "../../../victim/pwned"})", "printer.name", "no separators"},
      {R"("printer": {"name": "Label\\A"})", "printer.name", "no separators"},
      {R"("printer": {"name": ".."})", "printer.name", "is not \".\" or \"..\""},
      {R"("printer": {"name": "Label A."})", "printer.name", "does not end in a dot or a blank"},
      {R"("printer": {"name": "Label A "})", "printer.name", "does not end in a dot or a blank"},
      {R"("printer": {"name": "Label\u001b[2J"})", "printer.name", "no control characters"},
      {R"("printer": {"name": "A\u0000B"})", "printer.name", "no control characters"},
      {R"("printer": {"name": "A\u009bB"})", "printer.name", "no control characters"},
      {R"("printer": {"port": "USB\n001"})", "printer.port", "no control characters"},
      {R"({"second_printer": {"name": "nul", "port": "USB002"}, "jobs": [{"labels": 1}]})",
       "second_printer.name", "DOS device name"},
      // A settings key or value writes nothing but itself into its file.
      {R"("settings": {"printer": {"PrintCounter": "5\r\nSHOW_UI=0"}})",
       "settings.printer.PrintCounter", "no line break (CR, LF) and no NUL"},
      {R"("settings": {"model": {"SHOW_UI\n": 0}})", "settings.model.SHOW_UI\n",
       "no line break (CR, LF) and no NUL"},
      {R"("expect": {"settings": {"printer": {"WarnLevelColor": "2\u0000"}}})",
       "expect.settings.printer.WarnLevelColor", "no NUL"},
  };
  for (const Case& c : cases) {
    const ScenarioError error = ErrorOf(c.members[0] == '{' ? c.members : WithJobs(c.members));
    EXPECT_EQ(error.place(), c.place) << c.members;
    EXPECT_NE(error.message().find(c.says), std::string::npos)
        << c.members << " -> " << error.message();
  }
}

TEST(ScenarioParseTest, DeviceNamesAreRefusedWithAnyExtensionAndLikeNamesAreNot) {
  for (const std::string name : {"CON", "con.ini", "Prn.", "AUX .txt", "NUL", "COM1", "com9.log",
                                 "LPT3", "COM\u00b9", "LPT\u00b3.x", "CONIN$", "conout$.log"}) {
    const ScenarioError error = ErrorOf(WithJobs(R"("printer": {"name": ")" + name + R"("})"));
    EXPECT_EQ(error.place(), "printer.name") << name;
  }
  for (const std::string name : {"Label A", "CON label", "CONSOLE", "COM10", "COM0", "LPT1a",
                                 "Label.A", ".Label", "\u00c9tiquettes \u30e9\u30d9\u30eb"}) {
    EXPECT_NO_THROW(ParseScenario(WithJobs(R"("printer": {"name": ")" + name + R"("})"), "s"))
        << name;
  }
}

TEST(ScenarioParseTest, JobsAreRequiredAndAJobIsLabelsOrAFile) {
  EXPECT_EQ(ErrorOf("{}").place(), "jobs");
  EXPECT_EQ(ErrorOf(R"({"jobs": []})").place(), "jobs");
  EXPECT_EQ(ErrorOf(R"({"jobs": {}})").place(), "jobs");
  EXPECT_EQ(ErrorOf("[1, 2]").place(), "top level");
  ScenarioError error = ErrorOf(R"({"jobs": [{"file": "a.prn", "labels": 2}]})");
  EXPECT_EQ(error.place(), "jobs[0].file");
  error = ErrorOf(R"({"jobs": [{"file": "no-such-file.prn"}]})");
  EXPECT_EQ(error.place(), "jobs[0].file");
  EXPECT_NE(error.message().find("no-such-file.prn"), std::string::npos);
  error = ErrorOf(R"({"jobs": [{"write_sizes": [4096, 0]}]})");
  EXPECT_EQ(error.place(), "jobs[0].write_sizes[1]");
}

TEST(ScenarioParseTest, AFullScenarioReadsIntoThePrinterItsChangesAndTheJobs) {
  const Scenario scenario = ParseScenario(R"({
    "title": "t",
    "printer": {
      "name": "Dock 3", "port": "USB007",
      "cartridge": {"type": "pigment_black", "yellow_spits": "470.5M", "state": "invalid", "new": true},
      "error_flags": ["out_of_stock", "tof_sensor"],
      "align_marks": ["(", "valid"],
      "read_fault": "bad_checksum",
      "write_fault": {"partial": 100},
      "ink_per_byte": {"magenta": 7},
      "new_cartridges": [{"state": "missing"}],
      "alignment_results": [{"align_marks": ["invalid", "invalid"]}],
      "changes": [
        {"after_command": "cartridge_change_end", "count": 2, "delay_ms": 300, "set": {"responds": true}},
        {"after_ms": 1500, "set": {"error_flags": 8}}
      ]
    },
    "settings": {"printer": {"PrintCounter": 31999}},
    "answers": ["yes", {"answer": "OK", "box": 436, "printer": {"error_flags": []}}],
    "then_answer": "cancel",
    "jobs": [{"job_id": 7, "labels": 2}, {"name": "second"}],
    "expect": {"boxes": [469, 436], "commands": ["alignment_finish"]}
  })",
                                          "full.json");
  const PrinterPlan& printer = scenario.printer;
  EXPECT_EQ(printer.name, "Dock 3");
  EXPECT_EQ(printer.port, "USB007");
  EXPECT_EQ(printer.status.cartType, '0');
  EXPECT_EQ(printer.status.yellowSpits, 470500000u);
  EXPECT_EQ(printer.status.cartStatus, 0x10);
  EXPECT_EQ(printer.status.newCart, 1);
  EXPECT_EQ(printer.status.errorFlags, 0x05);
  EXPECT_EQ(printer.status.alignMarkA, '(');
  EXPECT_EQ(printer.status.alignMarkB, sim::kValidMark);
  EXPECT_EQ(printer.readMode.fault, sim::ReadFault::BadChecksum);
  EXPECT_EQ(printer.writeMode.fault, sim::WriteFault::Partial);
  EXPECT_EQ(printer.writeMode.value, 100u);
  EXPECT_EQ(printer.spitsMagenta, 7u);
  EXPECT_EQ(printer.spitsYellow, 0u);
  ASSERT_EQ(printer.cartridges.size(), 1u);
  EXPECT_EQ(printer.cartridges[0].cartStatus, 0x20);
  EXPECT_EQ(printer.cartridges[0].cartType, sim::kColorCartType) << "a new colour cartridge";
  ASSERT_EQ(printer.alignmentResults.size(), 1u);
  EXPECT_EQ(printer.alignmentResults[0].markA, '(');
  ASSERT_EQ(printer.changes.size(), 2u);
  EXPECT_EQ(printer.changes[0].when, sim::When::AfterCommand);
  EXPECT_EQ(printer.changes[0].command, sim::Command::CartridgeChangeEnd);
  EXPECT_EQ(printer.changes[0].count, 2u);
  EXPECT_EQ(printer.changes[0].delayMs, 300u);
  EXPECT_EQ(printer.changes[0].change.readMode->fault, sim::ReadFault::None);
  EXPECT_EQ(printer.changes[1].when, sim::When::Now);
  EXPECT_EQ(printer.changes[1].delayMs, 1500u);
  EXPECT_EQ(*printer.changes[1].change.errorFlags, 8);

  ASSERT_EQ(scenario.answers.size(), 2u);
  EXPECT_EQ(scenario.answers[0].button, IDYES);
  EXPECT_EQ(scenario.answers[1].button, IDOK);
  EXPECT_EQ(*scenario.answers[1].box, 436u);
  EXPECT_EQ(*scenario.answers[1].printer->errorFlags, 0);
  EXPECT_EQ(scenario.thenAnswer, IDCANCEL);
  ASSERT_EQ(scenario.jobs.size(), 2u);
  EXPECT_EQ(scenario.jobs[0].jobId, 7u);
  EXPECT_EQ(scenario.jobs[1].jobId, 8u) << "numbered on after the largest id given";
  EXPECT_EQ(scenario.jobs[1].name, "second");
  EXPECT_EQ(scenario.jobs[0].name, "Job 7");
  EXPECT_EQ(scenario.settings.at("printer").at("PrintCounter"), "31999");
  EXPECT_EQ(*scenario.expect.boxes, (std::vector<unsigned>{469, 436}));
}

TEST(ScenarioParseTest, JobFilesAreFoundInTheScenariosFolderAndNowhereElse) {
  namespace fs = std::filesystem;
  const fs::path root =
      fs::temp_directory_path() / ("langmon-sim-parse-" + std::to_string(getpid()));
  const fs::path folder = root / "scenarios";
  fs::create_directories(folder / "sub");
  std::ofstream(folder / "job.prn") << "data";
  std::ofstream(folder / "sub" / "two.prn") << "data";
  std::ofstream(root / "outside.prn") << "secret";
  // A neighbour whose name begins with the folder's: outside it, though its path begins alike.
  fs::create_directories(root / "scenarios-other");
  std::ofstream(root / "scenarios-other" / "x.prn") << "secret";
  fs::create_symlink(folder / "sub" / "two.prn", folder / "near.prn");
  fs::create_symlink(root / "outside.prn", folder / "far.prn");
  fs::create_symlink(root / "scenarios-other" / "x.prn", folder / "beside.prn");
  const auto load = [&folder](const std::string& file) {
    std::ofstream(folder / "s.json") << R"({"jobs": [{"file": ")" + file + R"("}]})";
    return LoadScenarioFile((folder / "s.json").string());
  };
  // Inside the folder, also through a link that stays in it: the file itself is sent.
  EXPECT_EQ(load("job.prn").jobs[0].file, fs::canonical(folder / "job.prn").string());
  EXPECT_EQ(load("sub/../near.prn").jobs[0].file, fs::canonical(folder / "sub/two.prn").string());
  // Anywhere else: refused, at the job's file.
  const std::pair<std::string, std::string> refused[] = {
      {(root / "outside.prn").string(), "relative to the scenario's folder"},
      {"../outside.prn", "outside the scenario's folder"},
      {"sub/../../outside.prn", "outside the scenario's folder"},
      {"far.prn", "outside the scenario's folder"},
      {"../scenarios-other/x.prn", "outside the scenario's folder"},
      {"beside.prn", "outside the scenario's folder"},
      {"sub", "not a plain file"},
      {".", "not a plain file"},
      {"missing.prn", "cannot read the job file"}};
  for (const auto& [file, says] : refused) {
    try {
      load(file);
      ADD_FAILURE() << "accepted " << file;
    } catch (const ScenarioError& error) {
      EXPECT_EQ(error.place(), "jobs[0].file") << file;
      EXPECT_NE(error.message().find(says), std::string::npos) << file << ": " << error.message();
    }
  }
  fs::remove_all(root);
}

TEST(AnswerListTest, WordsInAnyCaseAndBadWordsNamed) {
  const std::vector<Answer> answers = ParseAnswerList("yes, NO,ok,cancel,retry,none", "--answers");
  std::vector<int> buttons;
  for (const Answer& answer : answers) buttons.push_back(answer.button);
  EXPECT_EQ(buttons, (std::vector<int>{IDYES, IDNO, IDOK, IDCANCEL, IDRETRY, 0}));
  try {
    ParseAnswerList("yes,nope", "--answers");
    FAIL() << "accepted \"nope\"";
  } catch (const ScenarioError& error) {
    EXPECT_EQ(error.file(), "--answers");
    EXPECT_EQ(error.place(), "answer 2 (\"nope\")");
  }
}

}  // namespace
}  // namespace langmon_sim
