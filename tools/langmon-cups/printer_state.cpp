#include "tools/langmon-cups/printer_state.h"

#include <map>
#include <sstream>

#include "resources/resource_ids.h"
#include "tools/langmon-cups/status_lines.h"

namespace langmon_cups {

namespace {

constexpr char kLowInk[] = "marker-supply-low-warning";
constexpr char kEmptyInk[] = "marker-supply-empty-error";
constexpr char kMissingCartridge[] = "marker-supply-missing-error";
// The registry has no reason for a cartridge the printer cannot use: a vendor's own.
constexpr char kInvalidCartridge[] = "velmora-cartridge-invalid-error";
constexpr char kStockOut[] = "media-empty-error";
constexpr char kOffline[] = "offline-report";
constexpr char kPrinterError[] = "other-error";

constexpr char kLowInkMessage[] = "Ink is low. Have a new cartridge ready; printing goes on.";
constexpr char kMissingMessage[] = "No ink cartridge is installed. Install one.";
constexpr char kInvalidMessage[] =
    "The installed cartridge cannot be used in this printer. Install a cartridge made for it.";
constexpr char kClearedMessage[] = "The printer is ready again; printing goes on.";

const std::set<std::string>& OurReasons() {
  static const std::set<std::string> reasons = {
      kLowInk, kEmptyInk, kMissingCartridge, kInvalidCartridge, kStockOut, kOffline, kPrinterError};
  return reasons;
}

std::string Joined(const std::set<std::string>& reasons) {
  std::string text;
  for (const std::string& reason : reasons) text += (text.empty() ? "" : ",") + reason;
  return text;
}

std::string ColourOf(const std::string& ink) {
  static const std::map<std::string, std::string> colours = {
      {"Yellow", "#FFFF00"}, {"Magenta", "#FF00FF"}, {"Cyan", "#00FFFF"}, {"Black", "#000000"}};
  const auto found = colours.find(ink);
  return found != colours.end() ? found->second : "none";
}

}  // namespace

std::string ReasonOfQuestion(unsigned textId) {
  switch (textId) {
    case IDS_OUT_OF_STOCK:
      return kStockOut;
    case IDS_INK_LOW:
      return kLowInk;
    case IDS_INK_EMPTY:
      return kEmptyInk;
    case IDS_NO_STATUS:
    case IDS_NO_COMMUNICATION:
      return kOffline;
    case IDS_NO_CARTRIDGE:
      return kMissingCartridge;
    case IDS_INVALID_CARTRIDGE:
      return kInvalidCartridge;
    case IDS_TOF_ERROR:
    case IDS_UNRECOVERABLE_ERROR:
    case IDS_NO_CARTRIDGE_INFO:
      return kPrinterError;
    default:
      return "";
  }
}

std::string MessageOfQuestion(unsigned textId) {
  switch (textId) {
    case IDS_OUT_OF_STOCK:
      return "Out of labels. Load label stock; printing goes on by itself.";
    case IDS_TOF_ERROR:
      return "The printer cannot find the top of the label. Check the label stock and its "
             "sensor; printing goes on by itself once the printer reports it clear.";
    case IDS_UNRECOVERABLE_ERROR:
      return "The printer reports an error it cannot recover from. Switch it off and on; this "
             "job was cancelled.";
    case IDS_INK_LOW:
      return kLowInkMessage;
    case IDS_INK_EMPTY:
      return "The cartridge is empty. Replace it; printing goes on by itself once the printer "
             "reports the new cartridge.";
    case IDS_NO_STATUS:
      return "The printer does not answer. Check that it is on and connected; the job is tried "
             "again later.";
    case IDS_NO_COMMUNICATION:
      return "The printer cannot be reached. Check that it is on and connected; the job is "
             "tried again later.";
    case IDS_NO_CARTRIDGE:
      return kMissingMessage;
    case IDS_INVALID_CARTRIDGE:
      return kInvalidMessage;
    case IDS_NO_CARTRIDGE_INFO:
      return "The printer does not report what its cartridge is. Reinstall the cartridge.";
    default:
      return "";
  }
}

std::string MarkerLine(const std::vector<Ink>& inks) {
  if (inks.empty()) return "";
  std::ostringstream colours, high, levels, low, names, types;
  for (size_t i = 0; i < inks.size(); ++i) {
    const char* comma = i == 0 ? "" : ",";
    colours << comma << ColourOf(inks[i].name);
    high << comma << 100;
    levels << comma << (inks[i].installed ? inks[i].level : -1);
    low << comma << kLowInkMark;
    names << comma << inks[i].name;
    types << comma << "ink-cartridge";
  }
  return "ATTR: marker-colors=" + colours.str() + " marker-high-levels=" + high.str() +
         " marker-levels=" + levels.str() + " marker-low-levels=" + low.str() +
         " marker-names=" + names.str() + " marker-types=" + types.str();
}

PrinterState::PrinterState(const std::string& reasonsAtStart) {
  std::istringstream list(reasonsAtStart);
  std::string reason;
  while (std::getline(list, reason, ',')) {
    if (OurReasons().count(reason) != 0) shown_.insert(reason);
  }
  lowInk_ = shown_.count(kLowInk) != 0;
}

void PrinterState::Update() {
  std::set<std::string> wanted;
  if (!questionReason_.empty()) wanted.insert(questionReason_);
  if (!cartridgeReason_.empty()) wanted.insert(cartridgeReason_);
  if (!offlineMessage_.empty()) wanted.insert(kOffline);
  if (lowInk_) wanted.insert(kLowInk);

  std::set<std::string> gone, added;
  for (const std::string& reason : shown_) {
    if (wanted.count(reason) == 0) gone.insert(reason);
  }
  for (const std::string& reason : wanted) {
    if (shown_.count(reason) == 0) added.insert(reason);
  }
  if (!gone.empty()) SendLine("STATE: -" + Joined(gone));
  if (!added.empty()) SendLine("STATE: +" + Joined(added));
  shown_ = wanted;
}

void PrinterState::JobStarted() {
  questionReason_.clear();
  questionMessage_.clear();
  cartridgeReason_.clear();
  Update();
}

void PrinterState::PrinterAnswered() {
  if (offlineMessage_.empty()) return;
  offlineMessage_.clear();
  Update();
  SendLine(std::string("INFO: ") + kClearedMessage);
}

void PrinterState::Asked(unsigned textId) {
  const std::string reason = ReasonOfQuestion(textId);
  const std::string message = MessageOfQuestion(textId);
  if (reason == kLowInk) {
    if (!lowInk_) SendLine(std::string("WARNING: ") + kLowInkMessage);
    lowInk_ = true;
    Update();
    return;
  }
  if (reason == questionReason_ && message == questionMessage_) return;
  questionReason_ = reason;
  questionMessage_ = message;
  Update();
  if (!message.empty()) SendLine("WARNING: " + message);
}

void PrinterState::CheckPassed() {
  if (questionReason_.empty() && questionMessage_.empty()) return;
  questionReason_.clear();
  questionMessage_.clear();
  Update();
  SendLine(std::string("INFO: ") + kClearedMessage);
}

void PrinterState::Inks(const std::vector<Ink>& inks) {
  const std::string line = MarkerLine(inks);
  if (line.empty()) return;
  if (line != lastMarkers_) {
    SendLine(line);
    lastMarkers_ = line;
  }
  bool low = false;
  for (const Ink& ink : inks) {
    if (ink.installed && ink.level >= 0 && ink.level <= kLowInkMark) low = true;
  }
  if (low && !lowInk_) SendLine(std::string("WARNING: ") + kLowInkMessage);
  lowInk_ = low;
  Update();
}

void PrinterState::CartridgeSeen(Cartridge cartridge) {
  if (cartridge == Cartridge::Unknown) return;
  const std::string reason = cartridge == Cartridge::Missing   ? kMissingCartridge
                             : cartridge == Cartridge::Invalid ? kInvalidCartridge
                                                               : "";
  if (reason == cartridgeReason_) return;
  cartridgeReason_ = reason;
  Update();
  if (!reason.empty()) {
    SendLine(std::string("WARNING: ") +
             (cartridge == Cartridge::Missing ? kMissingMessage : kInvalidMessage));
  }
}

void PrinterState::Offline(const std::string& message) {
  if (message == offlineMessage_) return;
  offlineMessage_ = message;
  questionReason_.clear();
  questionMessage_.clear();
  Update();
  SendLine("WARNING: " + message);
}

void PrinterState::JobEnded(bool cancelled, bool stoppedByCheck) {
  const bool offline = !offlineMessage_.empty();
  if (cancelled || !stoppedByCheck) {
    questionReason_.clear();
    questionMessage_.clear();
  }
  // A printer that does not answer stays shown until a job finds it answering again.
  if (cancelled) offlineMessage_.clear();
  Update();
  if (cancelled) {
    SendLine("INFO: Job cancelled.");
  } else if (!questionMessage_.empty()) {
    // Said again after the child's own last lines, so that it is what the printer shows.
    SendLine("INFO: " + questionMessage_);
  } else if (offline) {
    SendLine("INFO: " + offlineMessage_);
  }
}

}  // namespace langmon_cups
