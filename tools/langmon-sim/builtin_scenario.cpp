#include "tools/langmon-sim/builtin_scenario.h"

namespace langmon_sim {

namespace {

// Ink wear is tuned so that the low-ink warning comes with the second job's first label, and
// the second job takes the cartridge past its limit, so the third job warns again.
constexpr char kScenario[] = R"json({
  "title": "The monitor at work: a first job, low ink, a cartridge change with alignment",
  "description": "A colour cartridge with some ink used. Job 1 prints. Job 2 finds the ink low: the monitor asks whether to change the cartridge now; the answer is No and the job prints. Job 2 takes the cartridge past its limit, so job 3 asks again: Yes. The monitor walks the user through the change, the new cartridge needs an alignment, the alignment print goes to the printer, and job 3 is deleted because the alignment values changed. Job 4, the same labels sent again, prints.",
  "printer": {
    "cartridge": {"type": "color", "yellow_spits": "180M", "magenta_spits": "430M", "cyan_spits": "250M"},
    "ink_per_byte": {"yellow": 5000, "magenta": 20000, "cyan": 8000},
    "new_cartridges": [
      {"type": "color", "yellow_spits": "0.2M", "magenta_spits": "0.3M", "cyan_spits": "0.2M", "new": true}
    ]
  },
  "answers": [
    {"box": 469, "answer": "no"},
    {"box": 469, "answer": "yes"},
    {"box": 427, "answer": "ok"},
    {"box": 400, "answer": "yes"},
    {"box": 443, "answer": "ok"}
  ],
  "jobs": [
    {"name": "A first job", "labels": 3,
     "expect": {"outcome": "printed", "boxes": [], "print_counter": 3}},
    {"name": "Low ink", "labels": 4,
     "expect": {"outcome": "printed", "boxes": [469], "print_counter": 7,
                "settings": {"printer": {"WarnLevelColor": 2}}}},
    {"name": "Cartridge change and alignment", "labels": 2,
     "expect": {"outcome": "deleted", "boxes": [469, 427, 400, 443], "alignment_prints": 1,
                "commands": ["cartridge_change_start", "cartridge_change_end", "alignment_finish"],
                "print_counter": 8, "settings": {"printer": {"WarnLevelColor": 1}}}},
    {"name": "The same labels again", "labels": 2,
     "expect": {"outcome": "printed", "boxes": [], "print_counter": 10}}
  ]
}
)json";

}  // namespace

const std::string& BuiltInScenarioText() {
  static const std::string text = kScenario;
  return text;
}

Scenario BuiltInScenario() { return ParseScenario(BuiltInScenarioText(), "built-in scenario"); }

}  // namespace langmon_sim
