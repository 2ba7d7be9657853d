#include "tools/langmon-sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/langmon-sim/printer_name.h"
#include "tools/langmon-sim/text.h"

namespace langmon_sim {

namespace {

using json = nlohmann::json;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Edit distance, for "did you mean" on misspelt keys and words.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string Nearest(const std::string& word, const std::vector<std::string>& choices) {
  std::string best;
  size_t bestDistance = 3;  // further than two edits is no suggestion
  for (const std::string& choice : choices) {
    const size_t distance = Distance(Lower(word), Lower(choice));
    if (distance < bestDistance) {
      best = choice;
      bestDistance = distance;
    }
  }
  return best;
}

std::string JoinQuoted(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    text += (text.empty() ? "\"" : ", \"") + word + "\"";
  }
  return text;
}

std::string Describe(const json& value) {
  std::string text = value.dump();
  return text.size() > 40 ? text.substr(0, 37) + "..." : text;
}

// Reads values out of one scenario file; every failure names the file and the JSON path.
class Reader {
 public:
  explicit Reader(std::string file) : file_(std::move(file)) {}

  [[noreturn]] void Fail(const std::string& place, const std::string& message) const {
    throw ScenarioError(file_, place.empty() ? "top level" : place, message);
  }

  std::string String(const json& value, const std::string& place) const {
    if (!value.is_string()) Fail(place, "expected a string, found " + Describe(value));
    return value.get<std::string>();
  }

  bool Bool(const json& value, const std::string& place) const {
    if (!value.is_boolean()) Fail(place, "expected true or false, found " + Describe(value));
    return value.get<bool>();
  }

  uint64_t Unsigned(const json& value, const std::string& place, uint64_t max) const {
    if (!value.is_number_integer() ||
        (value.is_number_integer() && !value.is_number_unsigned() && value.get<int64_t>() < 0)) {
      Fail(place, "expected a whole number from 0 to " + std::to_string(max) + ", found " +
                      Describe(value));
    }
    const uint64_t number = value.get<uint64_t>();
    if (number > max) {
      Fail(place, "expected a whole number from 0 to " + std::to_string(max) + ", found " +
                      std::to_string(number));
    }
    return number;
  }

  int Signed(const json& value, const std::string& place) const {
    if (!value.is_number_integer() || value.get<int64_t>() < INT32_MIN ||
        value.get<int64_t>() > INT32_MAX) {
      Fail(place, "expected a whole number, found " + Describe(value));
    }
    return static_cast<int>(value.get<int64_t>());
  }

  // A byte: 0..255, or a string of one character.
  BYTE Byte(const json& value, const std::string& place) const {
    if (value.is_string()) {
      const std::string text = value.get<std::string>();
      if (text.size() != 1) Fail(place, "expected one character or a number 0..255");
      return static_cast<BYTE>(text[0]);
    }
    return static_cast<BYTE>(Unsigned(value, place, 255));
  }

  // A spit counter: a number, or millions written "470M".
  DWORD Counter(const json& value, const std::string& place) const {
    if (value.is_string()) {
      const std::string text = value.get<std::string>();
      if (text.size() >= 2 && (text.back() == 'M' || text.back() == 'm')) {
        const std::string digits = text.substr(0, text.size() - 1);
        char* end = nullptr;
        const double millions = std::strtod(digits.c_str(), &end);
        if (end != nullptr && *end == '\0' && !digits.empty() && millions >= 0 &&
            millions * 1e6 <= 4294967295.0) {
          return static_cast<DWORD>(std::llround(millions * 1e6));
        }
      }
      Fail(place,
           "expected a spit count: a number, or millions such as \"470M\" (at most "
           "4294.967295M), found " +
               Describe(value));
    }
    return static_cast<DWORD>(Unsigned(value, place, 0xFFFFFFFFu));
  }

  // One of the words; reports the nearest one when misspelt.
  template <class T>
  T Choice(const json& value, const std::string& place,
           const std::vector<std::pair<std::string, T>>& choices) const {
    std::vector<std::string> words;
    for (const auto& choice : choices) words.push_back(choice.first);
    if (value.is_string()) {
      const std::string word = Lower(value.get<std::string>());
      for (const auto& choice : choices) {
        if (choice.first == word) return choice.second;
      }
      const std::string nearest = Nearest(word, words);
      Fail(place, "unknown value \"" + value.get<std::string>() + "\"" +
                      (nearest.empty() ? "" : " (did you mean \"" + nearest + "\"?)") +
                      "; expected one of " + JoinQuoted(words));
    }
    Fail(place, "expected one of " + JoinQuoted(words) + ", found " + Describe(value));
  }

  const json& Array(const json& value, const std::string& place) const {
    if (!value.is_array()) Fail(place, "expected a list [...], found " + Describe(value));
    return value;
  }

  const std::string& file() const { return file_; }

 private:
  std::string file_;
};

std::string Index(const std::string& path, size_t index) {
  return path + "[" + std::to_string(index) + "]";
}

// An object whose keys are taken one by one; any key left over is unknown, and an error.
class Object {
 public:
  Object(const Reader& reader, const json& value, std::string path)
      : reader_(reader), value_(value), path_(std::move(path)) {
    if (!value.is_object()) {
      reader.Fail(path_, "expected an object {...}, found " + Describe(value));
    }
  }

  const json* Take(const std::string& key) {
    known_.push_back(key);
    const auto found = value_.find(key);
    return found == value_.end() ? nullptr : &*found;
  }

  std::string Path(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }
  const std::string& path() const { return path_; }

  void Finish() const {
    for (const auto& item : value_.items()) {
      if (std::find(known_.begin(), known_.end(), item.key()) != known_.end()) continue;
      const std::string nearest = Nearest(item.key(), known_);
      reader_.Fail(Path(item.key()),
                   "unknown key \"" + item.key() + "\"" +
                       (nearest.empty() ? "" : " (did you mean \"" + nearest + "\"?)") +
                       "; allowed here: " + JoinQuoted(known_));
    }
  }

 private:
  const Reader& reader_;
  const json& value_;
  std::string path_;
  std::vector<std::string> known_;
};

// ---- Printer state ---------------------------------------------------------------------------

const std::vector<std::pair<std::string, BYTE>> kCartTypes = {{"color", sim::kColorCartType},
                                                              {"colour", sim::kColorCartType},
                                                              {"black", '1'},
                                                              {"pigment_black", '0'}};

const std::vector<std::pair<std::string, BYTE>> kCartStates = {
    {"ok", 0x00}, {"invalid", 0x10}, {"missing", 0x20}, {"check_marks", 0x50}};

const std::vector<std::pair<std::string, BYTE>> kMarks = {{"valid", sim::kValidMark},
                                                          {"invalid", '('}};

const std::vector<std::pair<std::string, BYTE>> kErrorBits = {{"out_of_stock", 0x01},
                                                              {"cartridge_empty", 0x02},
                                                              {"tof_sensor", 0x04},
                                                              {"unrecoverable", 0x08}};

const std::vector<std::pair<std::string, sim::ReadFault>> kReadFaults = {
    {"none", sim::ReadFault::None},      {"fail", sim::ReadFault::Fail},
    {"empty", sim::ReadFault::Empty},    {"bad_checksum", sim::ReadFault::BadChecksum},
    {"busy", sim::ReadFault::Busy},      {"bad_start", sim::ReadFault::BadStart},
    {"bad_end", sim::ReadFault::BadEnd}, {"wrong_length", sim::ReadFault::WrongLength}};

const std::vector<std::pair<std::string, sim::Command>> kCommands = {
    {"cartridge_change_start", sim::Command::CartridgeChangeStart},
    {"cartridge_change_end", sim::Command::CartridgeChangeEnd},
    {"cartridge_empty", sim::Command::CartridgeEmpty},
    {"alignment_finish", sim::Command::AlignmentFinish}};

BYTE CartType(const Reader& reader, const json& value, const std::string& place) {
  if (value.is_string() && value.get<std::string>().size() == 1) {
    return static_cast<BYTE>(value.get<std::string>()[0]);
  }
  if (value.is_number()) return reader.Byte(value, place);
  return reader.Choice(value, place, kCartTypes);
}

BYTE CartState(const Reader& reader, const json& value, const std::string& place) {
  if (value.is_number()) return reader.Byte(value, place);
  return reader.Choice(value, place, kCartStates);
}

BYTE Mark(const Reader& reader, const json& value, const std::string& place) {
  if (value.is_string() && value.get<std::string>().size() == 1) {
    return static_cast<BYTE>(value.get<std::string>()[0]);
  }
  return reader.Choice(value, place, kMarks);
}

void Marks(const Reader& reader, const json& value, const std::string& place,
           std::optional<BYTE>* a, std::optional<BYTE>* b) {
  reader.Array(value, place);
  if (value.size() != 2) reader.Fail(place, "expected two marks, such as [\"valid\", \"invalid\"]");
  *a = Mark(reader, value[0], Index(place, 0));
  *b = Mark(reader, value[1], Index(place, 1));
}

BYTE ErrorFlags(const Reader& reader, const json& value, const std::string& place) {
  if (value.is_number()) return reader.Byte(value, place);
  reader.Array(value, place);
  BYTE flags = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    flags |= reader.Choice(value[i], Index(place, i), kErrorBits);
  }
  return flags;
}

sim::WriteOutcome WriteFault(const Reader& reader, const json& value, const std::string& place) {
  if (value.is_object()) {
    Object object(reader, value, place);
    sim::WriteOutcome outcome{sim::WriteFault::Partial, 0};
    const json* partial = object.Take("partial");
    if (partial == nullptr) reader.Fail(place, "expected {\"partial\": bytes}");
    outcome.value =
        static_cast<DWORD>(reader.Unsigned(*partial, object.Path("partial"), 0xFFFFFFFFu));
    object.Finish();
    return outcome;
  }
  return reader.Choice(
      value, place,
      std::vector<std::pair<std::string, sim::WriteOutcome>>{{"none", {sim::WriteFault::None, 0}},
                                                             {"fail", {sim::WriteFault::Fail, 0}}});
}

void CartridgeFields(const Reader& reader, const json& value, const std::string& place,
                     sim::StateChange* change) {
  Object object(reader, value, place);
  if (const json* v = object.Take("type"))
    change->cartType = CartType(reader, *v, object.Path("type"));
  if (const json* v = object.Take("yellow_spits")) {
    change->yellowSpits = reader.Counter(*v, object.Path("yellow_spits"));
  }
  if (const json* v = object.Take("magenta_spits")) {
    change->magentaSpits = reader.Counter(*v, object.Path("magenta_spits"));
  }
  if (const json* v = object.Take("cyan_spits")) {
    change->cyanSpits = reader.Counter(*v, object.Path("cyan_spits"));
  }
  if (const json* v = object.Take("state"))
    change->cartStatus = CartState(reader, *v, object.Path("state"));
  if (const json* v = object.Take("new")) {
    change->newCart = static_cast<BYTE>(reader.Bool(*v, object.Path("new")) ? 1 : 0);
  }
  object.Finish();
}

// The keys that describe what the printer reports; shared by the printer and its changes.
void StateFields(const Reader& reader, Object& object, sim::StateChange* change) {
  if (const json* v = object.Take("cartridge")) {
    CartridgeFields(reader, *v, object.Path("cartridge"), change);
  }
  if (const json* v = object.Take("error_flags")) {
    change->errorFlags = ErrorFlags(reader, *v, object.Path("error_flags"));
  }
  if (const json* v = object.Take("align_marks")) {
    Marks(reader, *v, object.Path("align_marks"), &change->alignMarkA, &change->alignMarkB);
  }
  if (const json* v = object.Take("busy")) change->busy = reader.Bool(*v, object.Path("busy"));
  const json* responds = object.Take("responds");
  const json* readFault = object.Take("read_fault");
  if (responds != nullptr && readFault != nullptr) {
    reader.Fail(object.Path("read_fault"), "give either \"responds\" or \"read_fault\", not both");
  }
  if (responds != nullptr) {
    change->readMode =
        sim::ReadOutcome{reader.Bool(*responds, object.Path("responds")) ? sim::ReadFault::None
                                                                         : sim::ReadFault::Empty,
                         0};
  }
  if (readFault != nullptr) {
    change->readMode =
        sim::ReadOutcome{reader.Choice(*readFault, object.Path("read_fault"), kReadFaults), 0};
  }
  if (const json* v = object.Take("write_fault")) {
    change->writeMode = WriteFault(reader, *v, object.Path("write_fault"));
  }
}

sim::StateChange StateChangeOf(const Reader& reader, const json& value, const std::string& place) {
  Object object(reader, value, place);
  sim::StateChange change;
  StateFields(reader, object, &change);
  object.Finish();
  return change;
}

sim::Cartridge NewCartridge(const Reader& reader, const json& value, const std::string& place) {
  sim::StateChange change;
  CartridgeFields(reader, value, place, &change);
  sim::Cartridge cartridge;  // a fresh colour cartridge unless said otherwise
  cartridge.cartType = change.cartType.value_or(cartridge.cartType);
  cartridge.yellowSpits = change.yellowSpits.value_or(cartridge.yellowSpits);
  cartridge.magentaSpits = change.magentaSpits.value_or(cartridge.magentaSpits);
  cartridge.cyanSpits = change.cyanSpits.value_or(cartridge.cyanSpits);
  cartridge.cartStatus = change.cartStatus.value_or(cartridge.cartStatus);
  cartridge.newCart = change.newCart.value_or(cartridge.newCart);
  return cartridge;
}

sim::AlignmentResult AlignmentResultOf(const Reader& reader, const json& value,
                                       const std::string& place) {
  Object object(reader, value, place);
  sim::AlignmentResult result;
  if (const json* v = object.Take("state"))
    result.cartStatus = CartState(reader, *v, object.Path("state"));
  if (const json* v = object.Take("align_marks")) {
    std::optional<BYTE> a, b;
    Marks(reader, *v, object.Path("align_marks"), &a, &b);
    result.markA = *a;
    result.markB = *b;
  }
  object.Finish();
  return result;
}

sim::Trigger TriggerOf(const Reader& reader, const json& value, const std::string& place) {
  Object object(reader, value, place);
  sim::Trigger trigger;
  struct Condition {
    const char* key;
    sim::When when;
  };
  const Condition conditions[] = {{"after_reads", sim::When::AfterReads},
                                  {"after_alignment", sim::When::AfterAlignment},
                                  {"after_job_start", sim::When::AfterJobStart},
                                  {"after_job_end", sim::When::AfterJobEnd}};
  std::vector<std::string> given;
  for (const Condition& condition : conditions) {
    if (const json* v = object.Take(condition.key)) {
      trigger.when = condition.when;
      trigger.count =
          static_cast<unsigned>(reader.Unsigned(*v, object.Path(condition.key), 1000000));
      if (trigger.count == 0) reader.Fail(object.Path(condition.key), "counts start at 1");
      given.push_back(condition.key);
    }
  }
  if (const json* v = object.Take("after_command")) {
    trigger.when = sim::When::AfterCommand;
    trigger.command = reader.Choice(*v, object.Path("after_command"), kCommands);
    given.push_back("after_command");
  }
  const json* count = object.Take("count");
  if (count != nullptr) {
    if (trigger.when != sim::When::AfterCommand) {
      reader.Fail(object.Path("count"), "\"count\" goes with \"after_command\" only");
    }
    trigger.count = static_cast<unsigned>(reader.Unsigned(*count, object.Path("count"), 1000000));
    if (trigger.count == 0) reader.Fail(object.Path("count"), "counts start at 1");
  }
  if (const json* v = object.Take("after_ms")) {
    trigger.when = sim::When::Now;
    trigger.delayMs = static_cast<DWORD>(reader.Unsigned(*v, object.Path("after_ms"), 0xFFFFFFFFu));
    given.push_back("after_ms");
  }
  if (const json* v = object.Take("delay_ms")) {
    if (trigger.when == sim::When::Now) {
      reader.Fail(object.Path("delay_ms"),
                  "\"delay_ms\" follows one of the \"after_...\" conditions");
    }
    trigger.delayMs = static_cast<DWORD>(reader.Unsigned(*v, object.Path("delay_ms"), 0xFFFFFFFFu));
  }
  const json* set = object.Take("set");
  object.Finish();
  if (given.size() != 1) {
    reader.Fail(place, given.empty()
                           ? "a change needs one condition: after_reads, after_command, after_ms, "
                             "after_alignment, after_job_start or after_job_end"
                           : "a change takes one condition, found " + JoinQuoted(given));
  }
  if (set == nullptr) reader.Fail(place, "a change needs \"set\": what changes");
  trigger.change = StateChangeOf(reader, *set, object.Path("set"));
  return trigger;
}

void ApplyToStatus(const sim::StateChange& change, PrinterPlan* printer) {
  sim::Status& status = printer->status;
  if (change.cartType) status.cartType = *change.cartType;
  if (change.errorFlags) status.errorFlags = *change.errorFlags;
  if (change.cartStatus) status.cartStatus = *change.cartStatus;
  if (change.newCart) status.newCart = *change.newCart;
  if (change.alignMarkA) status.alignMarkA = *change.alignMarkA;
  if (change.alignMarkB) status.alignMarkB = *change.alignMarkB;
  if (change.yellowSpits) status.yellowSpits = *change.yellowSpits;
  if (change.magentaSpits) status.magentaSpits = *change.magentaSpits;
  if (change.cyanSpits) status.cyanSpits = *change.cyanSpits;
  if (change.busy) status.busy = *change.busy;
  if (change.readMode) printer->readMode = *change.readMode;
  if (change.writeMode) printer->writeMode = *change.writeMode;
}

PrinterPlan PrinterOf(const Reader& reader, const json& value, const std::string& place) {
  Object object(reader, value, place);
  PrinterPlan printer;
  if (const json* v = object.Take("name")) {
    printer.name = reader.String(*v, object.Path("name"));
    // The settings files live in a folder of the printer's name: it must be that one folder.
    const std::string problem = PrinterNameProblem(printer.name);
    if (!problem.empty()) reader.Fail(object.Path("name"), problem);
  }
  if (const json* v = object.Take("port")) {
    printer.port = reader.String(*v, object.Path("port"));
    if (printer.port.empty()) reader.Fail(object.Path("port"), "the port needs a name");
    // The monitor writes the port's name into its log, one line per record.
    if (HasControlCharacter(printer.port)) {
      reader.Fail(object.Path("port"), "a port's name has no control characters");
    }
  }
  sim::StateChange state;
  StateFields(reader, object, &state);
  ApplyToStatus(state, &printer);
  if (const json* v = object.Take("ink_per_byte")) {
    const std::string path = object.Path("ink_per_byte");
    if (v->is_object()) {
      Object ink(reader, *v, path);
      if (const json* c = ink.Take("yellow"))
        printer.spitsYellow = reader.Counter(*c, ink.Path("yellow"));
      if (const json* c = ink.Take("magenta"))
        printer.spitsMagenta = reader.Counter(*c, ink.Path("magenta"));
      if (const json* c = ink.Take("cyan"))
        printer.spitsCyan = reader.Counter(*c, ink.Path("cyan"));
      ink.Finish();
    } else {
      printer.spitsYellow = printer.spitsMagenta = printer.spitsCyan = reader.Counter(*v, path);
    }
  }
  if (const json* v = object.Take("record_period_ms")) {
    printer.recordPeriodMs =
        static_cast<DWORD>(reader.Unsigned(*v, object.Path("record_period_ms"), 3600000));
  }
  if (const json* v = object.Take("read_delay_ms")) {
    printer.readDelayMs =
        static_cast<DWORD>(reader.Unsigned(*v, object.Path("read_delay_ms"), 600000));
  }
  if (const json* v = object.Take("fail_open"))
    printer.failOpen = reader.Bool(*v, object.Path("fail_open"));
  if (const json* v = object.Take("fail_start"))
    printer.failStart = reader.Bool(*v, object.Path("fail_start"));
  if (const json* v = object.Take("spooler_opens")) {
    printer.spoolerOpens = reader.Bool(*v, object.Path("spooler_opens"));
  }
  if (const json* v = object.Take("alignment_files")) {
    printer.alignmentFiles = reader.Bool(*v, object.Path("alignment_files"));
  }
  if (const json* v = object.Take("new_cartridges")) {
    const std::string path = object.Path("new_cartridges");
    reader.Array(*v, path);
    for (size_t i = 0; i < v->size(); ++i) {
      printer.cartridges.push_back(NewCartridge(reader, (*v)[i], Index(path, i)));
    }
  }
  if (const json* v = object.Take("alignment_results")) {
    const std::string path = object.Path("alignment_results");
    reader.Array(*v, path);
    for (size_t i = 0; i < v->size(); ++i) {
      printer.alignmentResults.push_back(AlignmentResultOf(reader, (*v)[i], Index(path, i)));
    }
  }
  if (const json* v = object.Take("changes")) {
    const std::string path = object.Path("changes");
    reader.Array(*v, path);
    for (size_t i = 0; i < v->size(); ++i) {
      printer.changes.push_back(TriggerOf(reader, (*v)[i], Index(path, i)));
    }
  }
  object.Finish();
  return printer;
}

// ---- Settings, answers, expectations, jobs ---------------------------------------------------

const std::vector<std::string> kPrinterKeys = {
    "WarnLevelColor", "WarnLevelBlack", "AlignWarningRequired", "PrintCounter",
    "PromptTimeout",  "CyanSpits",      "MagentaSpits",         "YellowSpits"};
const std::vector<std::string> kModelKeys = {"ColorSpits", "BlackSpits", "PigBlackSpits",
                                             "BypassAlignWarning", "SHOW_UI"};

SettingsValues SettingsOf(const Reader& reader, const json& value, const std::string& place) {
  Object object(reader, value, place);
  SettingsValues settings;
  for (const char* file : {kPrinterSettings, kModelSettings}) {
    const json* keys = object.Take(file);
    if (keys == nullptr) continue;
    const std::string path = object.Path(file);
    if (!keys->is_object()) reader.Fail(path, "expected an object of settings keys {...}");
    const std::vector<std::string>& known =
        std::string(file) == kPrinterSettings ? kPrinterKeys : kModelKeys;
    for (const auto& item : keys->items()) {
      const std::string keyPath = path + "." + item.key();
      // A line break would start a line of its own in the settings file; a NUL would end it.
      if (item.key().find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        reader.Fail(keyPath, "a settings key has no line break (CR, LF) and no NUL");
      }
      const auto match = std::find_if(known.begin(), known.end(), [&](const std::string& k) {
        return Lower(k) == Lower(item.key());
      });
      if (match == known.end()) {
        const std::string nearest = Nearest(item.key(), known);
        reader.Fail(keyPath, "unknown settings key \"" + item.key() + "\"" +
                                 (nearest.empty() ? "" : " (did you mean \"" + nearest + "\"?)") +
                                 "; the " + file + " settings file has " + JoinQuoted(known));
      }
      const json& v = item.value();
      if (v.is_number_integer()) {
        settings[file][*match] = std::to_string(v.get<int64_t>());
      } else if (v.is_string()) {
        const std::string value = v.get<std::string>();
        if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
          reader.Fail(keyPath,
                      "a settings value has no line break (CR, LF) and no NUL: it would write "
                      "lines of its own into the settings file");
        }
        settings[file][*match] = value;
      } else {
        reader.Fail(keyPath, "expected a number or a string, found " + Describe(v));
      }
    }
  }
  object.Finish();
  return settings;
}

Answer AnswerOf(const Reader& reader, const json& value, const std::string& place) {
  Answer answer;
  answer.place = place;
  const json* word = &value;
  std::optional<Object> object;
  if (value.is_object()) {
    object.emplace(reader, value, place);
    word = object->Take("answer");
    if (word == nullptr) reader.Fail(place, "an answer object needs \"answer\"");
    if (const json* box = object->Take("box")) {
      answer.box = static_cast<unsigned>(reader.Unsigned(*box, object->Path("box"), 65535));
    }
    if (const json* printer = object->Take("printer")) {
      answer.printer = StateChangeOf(reader, *printer, object->Path("printer"));
    }
    object->Finish();
  }
  const std::string path = object ? object->Path("answer") : place;
  if (!word->is_string()) {
    reader.Fail(path,
                "expected an answer: \"ok\", \"cancel\", \"yes\", \"no\", \"retry\" or "
                "\"none\", found " +
                    Describe(*word));
  }
  const std::optional<int> button = ParseAnswerWord(word->get<std::string>());
  if (!button) {
    reader.Choice(*word, path,
                  std::vector<std::pair<std::string, int>>{{"ok", IDOK},
                                                           {"cancel", IDCANCEL},
                                                           {"yes", IDYES},
                                                           {"no", IDNO},
                                                           {"retry", IDRETRY},
                                                           {"none", 0}});
  }
  answer.button = *button;
  return answer;
}

Expectation ExpectationOf(const Reader& reader, const json& value, const std::string& place,
                          bool forJob) {
  Object object(reader, value, place);
  Expectation expect;
  if (forJob) {
    if (const json* v = object.Take("outcome")) {
      expect.outcome = reader.Choice(
          *v, object.Path("outcome"),
          std::vector<std::pair<std::string, JobOutcome>>{{"printed", JobOutcome::Printed},
                                                          {"deleted", JobOutcome::Deleted},
                                                          {"failed_start", JobOutcome::FailedStart},
                                                          {"stopped", JobOutcome::Stopped},
                                                          {"waiting", JobOutcome::Waiting}});
    }
  }
  if (const json* v = object.Take("boxes")) {
    const std::string path = object.Path("boxes");
    reader.Array(*v, path);
    expect.boxes.emplace();
    for (size_t i = 0; i < v->size(); ++i) {
      expect.boxes->push_back(
          static_cast<unsigned>(reader.Unsigned((*v)[i], Index(path, i), 65535)));
    }
  }
  if (const json* v = object.Take("print_counter")) {
    expect.printCounter = reader.Signed(*v, object.Path("print_counter"));
  }
  if (const json* v = object.Take("alignment_prints")) {
    expect.alignmentPrints =
        static_cast<unsigned>(reader.Unsigned(*v, object.Path("alignment_prints"), 100000));
  }
  if (const json* v = object.Take("commands")) {
    const std::string path = object.Path("commands");
    reader.Array(*v, path);
    expect.commands.emplace();
    for (size_t i = 0; i < v->size(); ++i) {
      expect.commands->push_back(reader.Choice((*v)[i], Index(path, i), kCommands));
    }
  }
  if (const json* v = object.Take("settings")) {
    expect.settings = SettingsOf(reader, *v, object.Path("settings"));
  }
  object.Finish();
  return expect;
}

// A job's file: relative to the scenario's folder and inside it, links followed; the path of the
// file itself, so that what was checked is what is sent.
std::string JobFileInScenarioFolder(const Reader& reader, const std::string& jobFile,
                                    const std::string& place) {
  namespace fs = std::filesystem;
  const fs::path given(jobFile);
  if (given.empty() || given.is_absolute()) {
    reader.Fail(place,
                "a job's file is given relative to the scenario's folder (-j FILE on the command "
                "line sends any file)");
  }
  std::error_code error;
  fs::path folder = fs::path(reader.file()).parent_path();
  const fs::path base = fs::weakly_canonical(folder.empty() ? fs::path(".") : folder, error);
  const fs::path file = error ? fs::path() : fs::canonical(base / given, error);
  if (error) reader.Fail(place, "cannot read the job file " + (base / given).string());
  if (!fs::is_regular_file(file, error)) {
    reader.Fail(place, "the job file " + file.string() + " is not a plain file");
  }
  if (std::mismatch(base.begin(), base.end(), file.begin(), file.end()).first != base.end()) {
    reader.Fail(place, "the job file " + jobFile + " is " + file.string() +
                           ", outside the scenario's folder " + base.string());
  }
  return file.string();
}

JobPlan JobOf(const Reader& reader, const json& value, const std::string& place) {
  Object object(reader, value, place);
  JobPlan job;
  job.place = place;
  if (const json* v = object.Take("name")) job.name = reader.String(*v, object.Path("name"));
  if (const json* v = object.Take("job_id")) {
    job.jobId = static_cast<DWORD>(reader.Unsigned(*v, object.Path("job_id"), 0xFFFFFFFEu));
  }
  if (const json* v = object.Take("document"))
    job.document = reader.String(*v, object.Path("document"));
  const json* labels = object.Take("labels");
  const json* bytes = object.Take("bytes_per_label");
  const json* file = object.Take("file");
  if (labels != nullptr) {
    job.labels = static_cast<unsigned>(reader.Unsigned(*labels, object.Path("labels"), 100000));
  }
  if (bytes != nullptr) {
    job.bytesPerLabel =
        static_cast<unsigned>(reader.Unsigned(*bytes, object.Path("bytes_per_label"), 16u << 20));
  }
  if (file != nullptr) {
    if (labels != nullptr || bytes != nullptr) {
      reader.Fail(object.Path("file"), "a job is either a file or generated labels, not both");
    }
    job.file = JobFileInScenarioFolder(reader, reader.String(*file, object.Path("file")),
                                       object.Path("file"));
    std::ifstream in(job.file, std::ios::binary);
    if (!in) reader.Fail(object.Path("file"), "cannot read the job file " + job.file);
  }
  if (const json* v = object.Take("write_sizes")) {
    const std::string path = object.Path("write_sizes");
    reader.Array(*v, path);
    for (size_t i = 0; i < v->size(); ++i) {
      const DWORD size = static_cast<DWORD>(reader.Unsigned((*v)[i], Index(path, i), 16u << 20));
      if (size == 0) reader.Fail(Index(path, i), "a write offers at least 1 byte");
      job.writeSizes.push_back(size);
    }
  }
  if (const json* v = object.Take("expect")) {
    job.expect = ExpectationOf(reader, *v, object.Path("expect"), true);
  }
  if (const json* v = object.Take("printer")) {
    job.printer = reader.String(*v, object.Path("printer"));
  }
  if (const json* v = object.Take("starts_during_previous")) {
    job.startsDuringPrevious = reader.Bool(*v, object.Path("starts_during_previous"));
  }
  object.Finish();
  return job;
}

// The second printer: a printer's keys, and its own "quiet" and "settings".
SecondPrinterPlan SecondPrinterOf(const Reader& reader, const json& value,
                                  const std::string& place) {
  Object object(reader, value, place);  // an object, or the error says so
  SecondPrinterPlan second;
  json printer = value;
  if (const json* v = object.Take("quiet")) second.quiet = reader.Bool(*v, object.Path("quiet"));
  if (const json* v = object.Take("settings")) {
    second.settings = SettingsOf(reader, *v, object.Path("settings"));
  }
  printer.erase("quiet");
  printer.erase("settings");
  second.printer = PrinterOf(reader, printer, place);
  return second;
}

// Which printer each job goes to, and whether its start can interleave with the one before.
void CheckPrinters(const Reader& reader, const Scenario& scenario) {
  const std::string first = scenario.printer.name;
  if (scenario.secondPrinter) {
    const PrinterPlan& second = scenario.secondPrinter->printer;
    if (second.name == first) {
      reader.Fail("second_printer.name", "the second printer needs a name of its own");
    }
    if (second.port == scenario.printer.port) {
      reader.Fail("second_printer.port", "the second printer needs a port of its own");
    }
  }
  for (size_t i = 0; i < scenario.jobs.size(); ++i) {
    const JobPlan& job = scenario.jobs[i];
    if (!job.printer.empty() && job.printer != first &&
        !(scenario.secondPrinter && job.printer == scenario.secondPrinter->printer.name)) {
      reader.Fail(job.place + ".printer",
                  "no printer of the scenario is named \"" + job.printer + "\"");
    }
    if (!job.startsDuringPrevious) continue;
    const auto printerOf = [&first](const JobPlan& plan) {
      return plan.printer.empty() ? first : plan.printer;
    };
    if (i == 0 || scenario.jobs[i - 1].startsDuringPrevious ||
        printerOf(scenario.jobs[i - 1]) == printerOf(job)) {
      reader.Fail(job.place + ".starts_during_previous",
                  "a job starts during the previous one only on the other printer, and not "
                  "during one that itself started so");
    }
  }
}

// Where in the text a byte offset lies, as "line L, column C".
std::string LineAndColumn(const std::string& text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// nlohmann's message without its own prefix and position.
std::string SyntaxMessage(const std::string& what) {
  std::string message = what;
  const size_t bracket = message.find("] ");
  if (message.rfind("[json.exception", 0) == 0 && bracket != std::string::npos) {
    message = message.substr(bracket + 2);
  }
  const size_t colon = message.find(": ");
  if (message.rfind("parse error", 0) == 0 && colon != std::string::npos) {
    message = message.substr(colon + 2);
  }
  return "not valid JSON: " + message;
}

}  // namespace

ScenarioError::ScenarioError(std::string file, std::string place, std::string message)
    : std::runtime_error(file + ": " + place + ": " + message),
      file_(std::move(file)),
      place_(std::move(place)),
      message_(std::move(message)) {}

const char* JobOutcomeName(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::Printed:
      return "printed";
    case JobOutcome::Deleted:
      return "deleted";
    case JobOutcome::FailedStart:
      return "failed_start";
    case JobOutcome::Stopped:
      return "stopped";
    case JobOutcome::Waiting:
      return "waiting";
  }
  return "unknown";
}

std::optional<int> ParseAnswerWord(const std::string& word) {
  const std::string lower = Lower(word);
  if (lower == "ok") return IDOK;
  if (lower == "cancel") return IDCANCEL;
  if (lower == "yes") return IDYES;
  if (lower == "no") return IDNO;
  if (lower == "retry") return IDRETRY;
  if (lower == "none") return 0;
  return std::nullopt;
}

const char* AnswerWord(int button) {
  switch (button) {
    case IDOK:
      return "OK";
    case IDCANCEL:
      return "Cancel";
    case IDYES:
      return "Yes";
    case IDNO:
      return "No";
    case IDRETRY:
      return "Retry";
    case 0:
      return "none";
    default:
      return "?";
  }
}

std::vector<Answer> ParseAnswerList(const std::string& list, const std::string& source) {
  std::vector<Answer> answers;
  std::stringstream stream(list);
  std::string word;
  size_t index = 0;
  while (std::getline(stream, word, ',')) {
    word.erase(0, word.find_first_not_of(" \t"));
    word.erase(word.find_last_not_of(" \t") + 1);
    const std::string place = "answer " + std::to_string(index + 1) + " (\"" + word + "\")";
    const std::optional<int> button = ParseAnswerWord(word);
    if (!button) {
      throw ScenarioError(source, place,
                          "not an answer; expected ok, cancel, yes, no, retry or none");
    }
    Answer answer;
    answer.button = *button;
    answer.place = source + " " + place;
    answers.push_back(answer);
    ++index;
  }
  return answers;
}

SessionPlan SessionOf(const Reader& reader, const json& value, const std::string& path) {
  Object object(reader, value, path);
  SessionPlan session;
  if (const json* v = object.Take("spooler")) {
    session.service = reader.Choice(
        *v, object.Path("spooler"),
        std::vector<std::pair<std::string, bool>>{{"service", true}, {"interactive", false}});
  }
  if (const json* v = object.Take("jobs_from")) {
    session.jobsFromSessionZero = reader.Choice(
        *v, object.Path("jobs_from"),
        std::vector<std::pair<std::string, bool>>{{"user", false}, {"session_0", true}});
  }
  if (const json* v = object.Take("owner")) {
    session.owner = reader.Choice(*v, object.Path("owner"),
                                  std::vector<std::pair<std::string, SessionPlan::Owner>>{
                                      {"answers", SessionPlan::Owner::Answers},
                                      {"away", SessionPlan::Owner::Away},
                                      {"logged_off", SessionPlan::Owner::LoggedOff}});
  }
  if (const json* v = object.Take("answer_after_ms")) {
    session.answerAfterMs =
        static_cast<DWORD>(reader.Unsigned(*v, object.Path("answer_after_ms"), 0xFFFFFFFFu));
  }
  object.Finish();
  return session;
}

Scenario ParseScenario(const std::string& text, const std::string& file) {
  json document;
  try {
    document = json::parse(text);
  } catch (const json::parse_error& error) {
    throw ScenarioError(file, LineAndColumn(text, error.byte > 0 ? error.byte - 1 : 0),
                        SyntaxMessage(error.what()));
  }

  const Reader reader(file);
  Object root(reader, document, "");
  Scenario scenario;
  scenario.file = file;
  if (const json* v = root.Take("title")) scenario.title = reader.String(*v, root.Path("title"));
  if (const json* v = root.Take("description")) {
    scenario.description = reader.String(*v, root.Path("description"));
  }
  if (const json* v = root.Take("printer"))
    scenario.printer = PrinterOf(reader, *v, root.Path("printer"));
  if (const json* v = root.Take("settings"))
    scenario.settings = SettingsOf(reader, *v, root.Path("settings"));
  if (const json* v = root.Take("quiet")) scenario.quiet = reader.Bool(*v, root.Path("quiet"));
  if (const json* v = root.Take("second_printer")) {
    scenario.secondPrinter = SecondPrinterOf(reader, *v, root.Path("second_printer"));
  }
  if (const json* v = root.Take("session")) {
    scenario.session = SessionOf(reader, *v, root.Path("session"));
  }
  if (const json* v = root.Take("answers")) {
    const std::string path = root.Path("answers");
    reader.Array(*v, path);
    for (size_t i = 0; i < v->size(); ++i) {
      scenario.answers.push_back(AnswerOf(reader, (*v)[i], Index(path, i)));
    }
  }
  if (const json* v = root.Take("then_answer")) {
    const Answer answer = AnswerOf(reader, *v, root.Path("then_answer"));
    if (answer.box || answer.printer) {
      reader.Fail(root.Path("then_answer"), "expected a plain answer word such as \"ok\"");
    }
    scenario.thenAnswer = answer.button;
  }
  const json* jobs = root.Take("jobs");
  if (jobs == nullptr) reader.Fail("jobs", "a scenario needs \"jobs\": a list of at least one job");
  reader.Array(*jobs, "jobs");
  if (jobs->empty()) reader.Fail("jobs", "a scenario needs at least one job");
  for (size_t i = 0; i < jobs->size(); ++i) {
    scenario.jobs.push_back(JobOf(reader, (*jobs)[i], Index("jobs", i)));
  }
  if (const json* v = root.Take("expect")) {
    scenario.expect = ExpectationOf(reader, *v, root.Path("expect"), false);
  }
  root.Finish();
  CheckPrinters(reader, scenario);

  // Job ids: given ones stay, the others are numbered in order after the largest so far.
  DWORD next = 1;
  for (JobPlan& job : scenario.jobs) {
    if (job.jobId == 0) job.jobId = next;
    next = std::max(next, job.jobId + 1);
    if (job.name.empty()) job.name = "Job " + std::to_string(job.jobId);
  }
  return scenario;
}

Scenario LoadScenarioFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError(path, "file", "cannot open the scenario file");
  std::stringstream text;
  text << in.rdbuf();
  return ParseScenario(text.str(), path);
}

}  // namespace langmon_sim
