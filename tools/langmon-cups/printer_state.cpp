#include "tools/langmon-cups/printer_state.h"

#include <map>
#include <sstream>

#include "resources/resource_ids.h"
#include "tools/langmon-cups/status_lines.h"

namespace langmon_cups {

namespace {

constexpr char kLowInk[] = "marker-supply-low-warning";
constexpr char kEmptyInk[] = "marker-supply-empty-error";
constexpr char kStockOut[] = "media-empty-error";
constexpr char kPrinterError[] = "other-error";

const std::set<std::string>& OurReasons() {
  static const std::set<std::string> reasons = {kLowInk, kEmptyInk, kStockOut, kPrinterError};
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
    case IDS_TOF_ERROR:
    case IDS_UNRECOVERABLE_ERROR:
    case IDS_NO_STATUS:
    case IDS_NO_COMMUNICATION:
    case IDS_INVALID_CARTRIDGE:
    case IDS_NO_CARTRIDGE:
    case IDS_NO_CARTRIDGE_INFO:
      return kPrinterError;
    default:
      return "";
  }
}

std::string MarkerLine(const std::vector<Ink>& inks) {
  if (inks.empty()) return "";
  std::ostringstream colours, levels, names, types;
  for (size_t i = 0; i < inks.size(); ++i) {
    const char* comma = i == 0 ? "" : ",";
    colours << comma << ColourOf(inks[i].name);
    levels << comma << (inks[i].installed ? inks[i].level : -1);
    names << comma << inks[i].name;
    types << comma << "ink-cartridge";
  }
  return "ATTR: marker-colors=" + colours.str() + " marker-levels=" + levels.str() +
         " marker-names=" + names.str() + " marker-types=" + types.str();
}

PrinterState::PrinterState(const std::string& reasonsAtStart) {
  std::istringstream list(reasonsAtStart);
  std::string reason;
  while (std::getline(list, reason, ',')) {
    if (OurReasons().count(reason) != 0) shown_.insert(reason);
  }
}

void PrinterState::Show(const std::set<std::string>& wanted) {
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

void PrinterState::Asked(unsigned textId, const std::string& text) {
  std::set<std::string> wanted;
  if (shown_.count(kLowInk) != 0) wanted.insert(kLowInk);
  const std::string reason = ReasonOfQuestion(textId);
  if (!reason.empty()) wanted.insert(reason);
  Show(wanted);
  message_ = text;
  if (reason == kLowInk) warning_ = text;
  SendLine((reason.empty() ? "INFO: " : "WARNING: ") + text);
}

void PrinterState::RepeatMessage() {
  if (!message_.empty()) SendLine("INFO: " + message_);
}

void PrinterState::FinalMessage() {
  if (!message_.empty()) {
    SendLine("INFO: " + message_);
  } else if (shown_.count(kLowInk) != 0 && !warning_.empty()) {
    SendLine("INFO: " + warning_);
  }
}

void PrinterState::Notice(const std::string& text) { SendLine("INFO: " + text); }

void PrinterState::CheckPassed() {
  message_.clear();
  std::set<std::string> wanted;
  if (shown_.count(kLowInk) != 0) wanted.insert(kLowInk);
  Show(wanted);
}

void PrinterState::ClearAll() { Show({}); }

void PrinterState::Inks(const std::vector<Ink>& inks) {
  const std::string line = MarkerLine(inks);
  if (!line.empty() && line != lastMarkers_) {
    SendLine(line);
    lastMarkers_ = line;
  }
}

}  // namespace langmon_cups
