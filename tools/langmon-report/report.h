// What a report shows: the jobs with their pre-job checks, the questions asked, the ink checks,
// the printer errors and the lines that were not understood.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace langmon_report {

// How much of a log the page lists one by one. The monitor's own log starts over past 2,000,000
// bytes and stays well inside these. Past a limit a list keeps its last entry for the latest one,
// which says how many it stands for (`beyond`); the ones it replaced are counted (Counts) and
// said on the page, not listed. The reader's time per line and its memory are bounded by them.
struct Limits {
  size_t jobs = 5000;
  size_t checks = 20000;   // pre-job checks, all jobs together
  size_t events = 100000;  // lines of the jobs' timelines, the checks' own included
  size_t boxes = 20000;
  size_t waits = 5000;
  size_t inkChecks = 20000;
  size_t errorKinds = 200;        // kinds of printer errors and other failures
  size_t jobsPerErrorKind = 100;  // jobs named beside each kind
  size_t boxKinds = 64;           // box IDs counted one by one among the unlisted boxes
  size_t openJobs = 64;           // jobs open at once; the oldest is closed past this
  size_t unknownLines = 300;      // different unrecognised lines listed; all are counted
  size_t unknownLength = 400;     // bytes of each one listed
  size_t notes = 100;             // notes on how the log was read
};

enum class Outcome { Printed, Deleted, FailedStart, Stopped, Waiting, Unknown };
// "printed", "deleted", "failed_start", "stopped", "waiting", "unknown" (the names langmon-sim
// uses).
const char* OutcomeName(Outcome outcome);
// In words: "printed", "deleted by the monitor", "did not start", ...
const char* OutcomeWords(Outcome outcome);

// Where something happened: the time and the first log line that shows it (0: not from the log).
struct When {
  int64_t ms = 0;
  std::string text;
  size_t line = 0;
};

enum class EventKind {
  Start,           // the spooler started the job
  Write,           // writes that went through unchecked
  Check,           // a pre-job check (see Job::checks)
  Status,          // a status read
  PrinterError,    // the printer reported an error
  Question,        // a box asked (see Job::questions)
  Command,         // a command sent to the printer
  AlignmentPrint,  // an alignment print file sent to the printer
  Cartridge,       // a cartridge change
  Ink,             // an ink check
  Failure,         // something went wrong in the monitor
  Outcome,         // printed, deleted, ...
  Wait,            // the monitor went round a loop until something changed (see Job::waits)
  Note,            // anything else worth a line
};
const char* EventKindName(EventKind kind);

struct Event {
  When when;
  EventKind kind = EventKind::Note;
  std::string text;
  unsigned count = 1;   // identical events in a row, folded into one
  size_t index = 0;     // Check: into Job::checks; Question: into Job::questions; Wait: Job::waits;
                        // Ink: into Report::ink
  uint64_t serial = 0;  // Question, Wait, Ink: the serial of the entry it shows (see `beyond`)
  bool inferred = false;  // not written in the log, but implied by the lines around it
};

struct Question {
  When when;
  unsigned id = 0;
  std::string answer;    // "Yes", "Cancel", "OK, or no answer", "not known", ...
  bool notice = false;   // only an OK button: a message rather than a question
  bool atLeast = false;  // the log shows it was asked, but not how many times
  std::string note;      // what the log leaves open about it
  bool shown = true;     // false: asked, but nothing was shown (no text, nobody to show it to)
  bool logged = false;   // the log names the box and what came back, not only its flow
  bool claimed = false;  // both its flow's lines and the line of its route show it: one box
  // The same box asked again in a row (a wait's rounds) is one question asked `times` times;
  // `before` is the answer of the earlier rounds where the last one differs.
  uint64_t times = 1;
  When last;
  std::string before;
  uint64_t serial = 0;  // 1 for the job's first box
  uint64_t beyond = 0;  // past the page's limit: the boxes this one stands for, itself included
};

// A loop the monitor went round until the printer or the user ended it: each round read the
// status again and (unless quiet mode or nobody to ask) put the same box.
struct Wait {
  std::string what;  // what the monitor waited for
  When from, to;
  uint64_t rounds = 0;          // status reads (or boxes) of the loop; 0 when the log shows none
  unsigned question = 0;        // the box of each round, 0 none
  std::optional<size_t> asked;  // into Job::questions: the box as the log or the run shows it
  uint64_t statusFailures = 0;  // failed status reads along the way
  std::string ended;            // how it ended
  bool over = false;            // false: the log ends while the monitor still waits
  uint64_t askedSerial = 0;     // the serial of `asked`
  uint64_t serial = 0;          // 1 for the job's first wait
  uint64_t beyond = 0;          // past the page's limit: the waits it stands for, itself included
};

enum class CheckResult { Running, Passed, Failed };

struct Check {
  When when;
  unsigned number = 0;  // 1 for the job's first check
  CheckResult result = CheckResult::Running;
  std::vector<Event> events;
  bool eventful = false;       // more than a status read and an unremarkable ink check
  std::optional<size_t> ink;   // into Report::ink
  uint64_t inkSerial = 0;      // the serial of `ink`
  uint64_t eventsLeftOut = 0;  // past the page's limit on timeline lines
  uint64_t beyond = 0;         // past the page's limit: the checks it stands for, itself included
};

// Jobs, checks, boxes and the like, counted: those the page does not list (past its limits), or
// all of them (CountAll).
struct Counts {
  uint64_t jobs = 0;
  std::map<Outcome, uint64_t> outcomes;
  uint64_t checks = 0, failedChecks = 0, alignmentPrints = 0;
  uint64_t boxes = 0;                      // shown ones
  std::map<unsigned, uint64_t> boxesById;  // unlisted: at most Limits::boxKinds IDs, others as 0
  uint64_t waits = 0;
  uint64_t inkChecks = 0;
  uint64_t events = 0;  // lines of the jobs' timelines
  bool Empty() const { return jobs + checks + boxes + waits + inkChecks + events == 0; }
};

struct Job {
  unsigned number = 0;  // 1 for the first job in the log
  std::string name;     // known for a simulated run
  When start, end;
  bool startSeen = false;  // the log shows its start (a cut log may begin inside a job)
  bool endSeen = false;
  Outcome outcome = Outcome::Unknown;
  std::string outcomeNote;
  unsigned session = 0;  // which start of the monitor it ran under (1 for the first)
  std::vector<Event> events;
  std::vector<Check> checks;
  std::vector<Question> questions;
  std::vector<Wait> waits;
  std::set<unsigned> overlaps;  // jobs that were open at the same time
  uint64_t eventsLeftOut = 0;   // past the page's limit on timeline lines
  Counts unlisted;              // its checks, boxes, waits and lines that are not listed
};

enum class Family { Unknown, Colour, Black, PigmentBlack };
const char* FamilyName(Family family);   // "colour", "black", "pigment-black", "unknown"
const char* FamilyWords(Family family);  // "colour cartridge", ...

struct InkPoint {
  When when;
  unsigned job = 0, check = 0;  // numbers
  uint32_t spits = 0, limit = 0;
  int levelBefore = 0;
  std::optional<int> levelAfter;
  Family family = Family::Unknown;
  bool familyFromLimit = false;  // only the limit's usual value suggests the family
  unsigned cartridge = 0;        // counts cartridge changes seen before it
  uint64_t serial = 0;           // 1 for the log's first
  uint64_t beyond = 0;           // past the page's limit: the checks it stands for, itself included
};

// One kind of printer error or failure, with how often and when it happened. A report repeated
// while the monitor waits for it to clear (or right after itself) is the same occurrence.
struct Tally {
  std::string what;
  bool printer = true;   // the printer's doing rather than the monitor's or the system's
  uint64_t count = 0;    // occurrences
  uint64_t reports = 0;  // lines that report it
  When first, last;
  int64_t lastedMs = 0;     // the occurrences' lengths, added up
  int64_t since = 0;        // when the latest occurrence began
  std::set<unsigned> jobs;  // at most Limits::jobsPerErrorKind
  uint64_t jobsLeftOut = 0;
  unsigned lastJob = 0;         // of the latest report
  unsigned lastLeftOutJob = 0;  // the latest of the jobs left out
  bool others = false;          // the kinds past the page's limit, together
};

struct UnknownLine {
  std::string text;
  unsigned count = 0;
  size_t firstLine = 0;
  bool badFormat = false;  // not even in the log's record format
};

struct SettingsFileText {
  std::string label, path, text;
  bool exists = false;
};

struct Report {
  std::string source;  // the log file, or the scenario
  std::string clock;   // what the times are
  bool simulated = false;
  size_t lines = 0, records = 0, bytes = 0;
  When first, last;
  unsigned sessions = 0;
  bool startsMidway = false;  // the log begins after the monitor started (cut at its size cap)
  bool overlapping = false;   // several jobs were open at once
  std::vector<Job> jobs;
  std::vector<InkPoint> ink;
  std::vector<Tally> errors;
  std::vector<UnknownLine> unknown;
  size_t unknownCount = 0;
  unsigned cartridgeChanges = 0;        // a good cartridge reported after a change
  std::vector<std::string> notes;       // how the log was read
  size_t notesLeftOut = 0;              // notes past the number the page lists
  std::vector<std::string> cannotShow;  // what this log leaves open about its questions
  Limits limits;                        // what the page lists one by one
  Counts unlisted;                      // the jobs not listed and what they held; ink checks
  // A simulated run knows these too.
  std::string title, description;
  std::vector<SettingsFileText> settings;
};

// Everything the report holds, listed or not: what the page's summary says.
Counts CountAll(const Report& report);
// Of that, what the page does not list.
Counts CountUnlisted(const Report& report);

}  // namespace langmon_report
