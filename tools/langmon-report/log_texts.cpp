#include "tools/langmon-report/log_texts.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iterator>
#include <optional>

namespace langmon_report {

namespace {

struct Known {
  Text text;
  const char* format;
};

// Each text as the monitor formats it, without the line feed it ends with.
constexpr Known kKnown[] = {
    {Text::InitCalled, "**** LANGMON: Initialize Print Monitor Called"},
    {Text::InitNoRoot, "**** LANGMON: Initialize Print Monitor pszRegistryRoot = null"},
    {Text::InitTimeoutsFailed, "**** LANGMON: UpdateTimeoutsFromRegistry failed"},
    {Text::InitCalled, "**** LANGMON: InitializePrintMonitor2 Called"},
    {Text::InitNoRoot, "**** LANGMON: InitializePrintMonitor2 pMonitorInit invalid"},
    {Text::InitTimeoutNotKept, "**** LANGMON: EOJTimeout not kept, spooler registry error %ld"},
    {Text::Shutdown, "**** LANGMON: PJLMonShutdown Called"},
    {Text::OpenPortFailed, "**** PjlMon: OpenPort %s : Failed"},
    {Text::OpenPortCalled, "**** PJLMonOpenPortEx Called"},
    {Text::OpenPortInvalid, "**** PjlMon: Invalid port monitors passed to OpenPortEx"},
    {Text::OpenPortNotFound, "**** PjlMon: Couldn't find port OpenPortEx"},
    {Text::OpenPortReturn, "**** PJLMonOpenPortEx Return"},
    {Text::OpenPortNoTimeouts, "**** PjlMon: OpenPort unable to set timeouts"},
    {Text::OpenPortCleanup, "**** PJLMonOpenPortEx Return Cleanup"},
    {Text::ClosePortCalled, "**** PJLMonClosePort Called"},
    {Text::ClosePortReturning, "**** PJLMonClosePort Returning"},
    {Text::StartCalled, "**** LANGMON: PJLMonStartDocPort Called. Ver=%i"},
    {Text::StartInvalid, "**** LANGMON: PJLMonStartDocPort params Invalid"},
    {Text::StartBadLevel, "**** LANGMON: Error dwLevel = %i"},
    {Text::StartBusy, "**** LANGMON: PJLMonStartDocPort port busy"},
    {Text::StartNoRecord, "**** LANGMON: pIniJob = NULL"},
    {Text::StartNoPrinter, "**** LANGMON: PJLMonStartDocPort failed to open printer"},
    {Text::StartWarned, "**** LANGMON: WARN and set fWarnedOnFailedStart"},
    {Text::StartNotWarned, "**** LANGMON: DO NOT WARN"},
    {Text::StartPortFailed, "**** LANGMON: pfnStartDocPort FAILED"},
    {Text::StartReturn, "**** PJLStartDocPortEx Return"},
    {Text::StartReturnTrue, "**** PJLStartDocPortEx Return TRUE"},
    {Text::StartReturnFalse, "**** PJLStartDocPortEx Return FALSE"},
    {Text::EndCalled, "**** PJLMonEndDocPort Called"},
    {Text::EndReturning, "**** PJLMonEndDocPort Returning"},
    {Text::AbortBegin, "Deleting the print job(s) in AbortJobs()"},
    {Text::AbortSetJobFailed, "SetJob failed with last error %lu"},
    {Text::AbortEnd, "Leaving AbortJobs()"},
    {Text::FirstWrite, "**** First Write - Do not look for Header"},
    {Text::HeaderWithoutJob, "Header found -- no job record, sent without the check"},
    {Text::HeaderFound, "Header found -- Prepare for next print"},
    {Text::CheckFailed, "PrepareForNextPrint( ) failed!  Jobs Aborted"},
    {Text::CheckPassed, "PrepareForNextPrint( ) successful!"},
    {Text::EmptyWrite, "**** cbBuf==0"},
    {Text::WriteFailed, "**** WritePort failed"},
    {Text::StatusWrongSize, "GetRoboStatusUSB: Wrong number of status bytes: %ld"},
    {Text::StatusRightSize, "GetRoboStatusUSB: Correct number status bytes: %ld"},
    {Text::StatusWrongFrame, "GetRoboStatusUSB: Wrong Start or End Character."},
    {Text::StatusCountTooLarge, "GetRoboStatusUSB: bNumMesgBytes too large: %ld"},
    {Text::StatusChecksum, "CHECKSUM ERROR!! TRY AGAIN."},
    {Text::StatusTimedOut, "GetRoboStatusUSB: TIMED OUT."},
    {Text::StatusReturnFalse, "OemPtrGetRoboStatus() returning (FALSE)"},
    {Text::StatusWaitTimedOut, "**** TIMED OUT Waiting for Status update"},
    {Text::ProgressDialog, "OemDlgProcAlignProgress(WM_INITDIALOG) Called"},
    {Text::DriverNoFileName, "OemPtrGetDriverPathName(): failed to load filename!"},
    {Text::DriverBufferSize, "OemPtrGetDriverPathName: unknown buffer size(0x%lX)!"},
    {Text::DriverNoBuffer, "OemPtrGetDriverPathName(): failed to allocate DI2 buffer(0x%lX)!"},
    {Text::DriverNoPath, "OemPtrGetDriverPathName(): failed to retrieve pathname(0x%lX)!"},
    {Text::DriverNoBackslash, "OemPtrGetDriverPathName(): missing backslash!"},
    {Text::DriverNoMemory, "OemPtrGetDriverPathName(): failed to allocate memory!"},
    {Text::PrintFileNoPath, "OemPtrOutputFileUSB(): failed to get pathname(0x%lX)!"},
    {Text::PrintFileName, "DEBUG: Filename: %s"},
    {Text::PrintFileNameUnreadable, "DEBUG: Failed WideCharToMultiByte"},
    {Text::PrintFileOpenFailed, "OemPtrOutputFile(): failed to open input file(0x%lX)!"},
    {Text::PrintFileSizeFailed, "OemPtrOutputFile(): failed to get file size(0x%lX)!"},
    {Text::PrintFileReadFailed, "OemPtrOutputFile(): read failure(0x%lX)!"},
    {Text::PrintFileWriteFailed, "OemPtrOutputFile(): write failure1(0x%lX)!"},
    {Text::PrintFileShortWrite, "OemPtrOutputFile(): wrote %ld of %ld bytes!"},
    {Text::SaveCyanFailed, "Set CyanSpits FAILED"},
    {Text::SaveMagentaFailed, "Set MagentaSpits FAILED"},
    {Text::SaveYellowFailed, "Set YellowSpits FAILED"},
    {Text::SaveNoPath, "Failed to save off printer data"},
    {Text::AppDataNoMemory, "OemPtrGetDriverAppDataPath(): failed to allocate memory!"},
    {Text::AppDataTooLong, "OemPtrGetDriverAppDataPath(): path too long!"},
    {Text::AppDataLink, "OemPtrGetDriverAppDataPath(): %ls is a link, not used"},
    {Text::AppDataManyLinks, "OemPtrGetDriverAppDataPath(): %ls has more than one link, not used"},
    {Text::AppDataNotChecked,
     "OemPtrGetDriverAppDataPath(): %ls cannot be checked (0x%lX), not used"},
    {Text::AppDataNotDiskFile, "OemPtrGetDriverAppDataPath(): %ls is not a disk file, not used"},
    {Text::AppDataNotFolderName,
     "OemPtrGetDriverAppDataPath(): %ls is not a folder name, not used"},
    {Text::AppDataDeviceName, "OemPtrGetDriverAppDataPath(): %ls is a device name, not used"},
    {Text::AppDataNotOpened,
     "OemPtrGetDriverAppDataPath(): %ls cannot be opened (0x%lX), not used now"},
    {Text::SettingKept,
     "WriteHeldSetting(): %ls of %ls not written (0x%lX), kept for the next use"},
    {Text::SettingLost,
     "WriteHeldSetting(): %ls of %ls not written (0x%lX), and no room to keep it: lost"},
    {Text::SettingNotWritten, "WriteHeldSetting(): %ls of %ls not written (0x%lX)"},
    {Text::SettingWrittenLate,
     "WriteHeldSetting(): %ls of %ls written, kept since %ls was refused"},
    {Text::SettingStillToWrite, "ReadHeldSetting(): %ls of %ls is still to be written, %u is used"},
    {Text::SettingLastValue,
     "ReadHeldSetting(): %ls of %ls cannot be read, %u as last read or written is used"},
    {Text::SettingNeverRead,
     "ReadHeldSetting(): %ls of %ls cannot be read and was never read, %u is used"},
    {Text::BoxNotShown, "OemPtrMessageBox() unable to display MessageBox()"},
    {Text::BoxOwnerAnswered,
     "OemPtrMessageBox(): message %u answered %lu in the job owner's session"},
    {Text::BoxOwnerTimedOut,
     "OemPtrMessageBox(): message %u not answered within %lu s in the job owner's session"},
    {Text::BoxOwnerFailed,
     "OemPtrMessageBox(): message %u could not be shown in the job owner's session (error %lu)"},
    {Text::BoxNobody, "OemPtrMessageBox(): message %u not shown: nobody sees session 0 (%s)"},
    {Text::NoProgressDialog, "WaitForPrinterStatus: no progress dialog in session 0"},
    {Text::BoxNoText, "OemPtrMessageBox(): NULL pointer!"},
    {Text::BoxNoString, "OemPtrMessageBox(): failed to load string!"},
    {Text::BoxNoTitle, "OemPtrMessageBox(): failed to load title string!"},
    {Text::CheckBegin, "** PrepareForNextPrint **"},
    {Text::CheckGettingStatus, "** PrepareForNextPrint: Getting Status Data"},
    {Text::CheckGotStatus, "PrepareForNextPrint: got status - continue"},
    {Text::CheckNoStatus, "** PrepareForNextPrint: FAILED to get RoboStatus"},
    {Text::CheckNoIniPath, "** PrepareForNextPrint: Failed to get printer ini path"},
    {Text::CheckSaved, "** Alignment Values successfully saved"},
    {Text::CheckSaveFailed, "** Failed to save Alignment Values"},
    {Text::CheckErrors, "** PrepareForNextPrint: Checking for printer error"},
    {Text::CheckErrorFound, "** PrepareForNextPrint: Printer Error Found %i"},
    {Text::OutOfStock, "-->OUT OF STOCK!!"},
    {Text::TofSensor, "-->TOF sensor error!!"},
    {Text::Unrecoverable, "Unrecoverable ERROR (%i)"},
    {Text::Unanswered, "%d questions went unanswered: giving up"},
    {Text::EmptyInstall, "CartEmpty user chose to install cartridges"},
    {Text::EmptyCleared, "CartEmpty condition (%x) cleared by user we can continue"},
    {Text::AfterInstall, "Getting VORNEX Data after cart install..."},
    {Text::AfterInstallSaveFailed, "** JOB FAILED: failed to save VORNEX Data"},
    {Text::SameCartridge, "** JOB FAILED: User changed to same cart in FinalWarnLevel"},
    {Text::InkCheck, "Check Ink Level(Spits=%lu, MaxSpits=%lu, Level=%d"},
    {Text::InkLow, "** Cartridge is low on ink, warning the user"},
    {Text::InkSpits, "--> Cartridge Spits = %lu"},
    {Text::InkLimit, "--> Spits LIMIT = %lu"},
    {Text::InkOriginalLevel, "--> Orig Ink Level = %i"},
    {Text::InkNewLevel, "--> New Ink Level = %i"},
    {Text::InkPassedLevel1, "CheckInkLevel Passing warn level 1 spits: %ld, max: %ld"},
    {Text::InkPassedLevel2, "CheckInkLevel Passing warn level 2 spits: %ld, max: %ld"},
    {Text::InkPassedLevel3, "CheckInkLevel Passing warn level 3 spits: %ld, max: %ld"},
    {Text::InkNegative, "CheckInkLevel Negspits but not yet at warn level3 spits: %ld, max: %ld"},
    {Text::AlignBypassed, "** PrepareForNextPrint: Cartridge alignment check bypassed"},
    {Text::AlignCheck, "** PrepareForNextPrint: Check for cartridge alignment"},
    {Text::AlignNotNeeded, "PrepareForNextPrint: Cartridge does not need alignment"},
    {Text::AlignNeeded, "PrepareForNextPrint: Cartridge needs alignment"},
    {Text::AlignCalling, "PrepareForNextPrint: calling OutputFileUSB"},
    {Text::AlignCancelled, "** JOB FAILED: USER CANCELLED ON ALIGN"},
    {Text::AlignFailed, "** JOB FAILED: Failed to align carts"},
    {Text::CartridgesCheck, "In CheckCartridges"},
    {Text::CartridgeInvalid, "Invalid cartridge installed = %d"},
    {Text::CartridgeMissing, "No cartridge installed"},
    {Text::CartridgesOk, "** Cartridges are ok"},
    {Text::InstallBegin, "In InstallCartridges"},
    {Text::InstallPrompted, "Label terminating cart install"},
    {Text::InstallChecking, "Checking cartridges"},
    {Text::InstallNoStatus, "Failed to get updated cartridge information"},
    {Text::InstallResult, "**Check Cartridges %i"},
    {Text::InstallCancelled, "**Check Cartridges user chose to cancel"},
    {Text::ResetBlack, "Resetting Black WarnLevel"},
    {Text::ResetColour, "Resetting Color WarnLevel"},
    {Text::AlignUnableToSend, "UNABLE TO SEND ALIGNMENT PRINT"},
    {Text::AlignNoValues, "UNABLE TO GET ALIGNMENT VALUES"},
    {Text::AlignStatusArrived, "ALIGNMENT SUCCESSFUL"},
};

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool MatchFrom(std::string_view format, std::string_view text, Matched* out) {
  while (!format.empty()) {
    if (format.front() != '%') {
      if (text.empty() || text.front() != format.front()) return false;
      format.remove_prefix(1);
      text.remove_prefix(1);
      continue;
    }
    // A conversion: flags, width, precision and size prefixes are skipped.
    size_t at = 1;
    while (at < format.size() &&
           std::string_view("-+ #0123456789.lh").find(format[at]) != std::string_view::npos) {
      ++at;
    }
    if (at >= format.size()) return false;
    const char conversion = format[at];
    format.remove_prefix(at + 1);
    if (conversion == 's') {
      // As short as the rest of the format allows; the values of a rest that does not match
      // are taken back.
      const size_t numbers = out->numbers.size();
      for (size_t length = 0; length <= text.size(); ++length) {
        if (MatchFrom(format, text.substr(length), out)) {
          out->string.assign(text.substr(0, length));
          return true;
        }
        out->numbers.resize(numbers);
      }
      return false;
    }
    const bool hex = conversion == 'x' || conversion == 'X';
    const bool sign = conversion == 'd' || conversion == 'i';
    if (!hex && !sign && conversion != 'u') return false;
    size_t length = sign && !text.empty() && text.front() == '-' ? 1 : 0;
    const size_t digitsFrom = length;
    while (length < text.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text[length]))
                                        : std::isdigit(static_cast<unsigned char>(text[length])))) {
      ++length;
    }
    if (length == digitsFrom || length - digitsFrom > 16) return false;
    out->numbers.push_back(
        std::strtoll(std::string(text.substr(0, length)).c_str(), nullptr, hex ? 16 : 10));
    text.remove_prefix(length);
  }
  return text.empty();
}

}  // namespace

bool MatchFormat(std::string_view format, std::string_view text, Matched* out) {
  Matched found;
  if (!MatchFrom(Trimmed(format), Trimmed(text), &found)) return false;
  found.text = out->text;
  *out = std::move(found);
  return true;
}

namespace {

// The formats' prefixes (the literal text before their first conversion) as a tree whose edges
// are runs of bytes. A line walks down it as far as its own bytes lead; the formats it may be are
// those whose prefix ends on its way, and only they are matched whole.
class Formats {
 public:
  Formats() {
    nodes_.emplace_back();  // the root: the empty prefix, of formats that start with a conversion
    std::vector<std::vector<size_t>> ending(1);
    for (size_t index = 0; index < std::size(kKnown); ++index) {
      const std::string_view format = Trimmed(kKnown[index].format);
      const std::string_view prefix = format.substr(0, format.find('%'));
      formats_.push_back({kKnown[index].text, format, prefix});
      const size_t node = Insert(prefix);
      ending.resize(nodes_.size());
      ending[node].push_back(index);
    }
    // Each node's formats: those that end there or above it, in the order of kKnown, in which
    // the first that matches is taken.
    for (std::vector<size_t> below = {0}; !below.empty();) {
      Node& node = nodes_[below.back()];
      node.formats.insert(node.formats.end(), ending[below.back()].begin(),
                          ending[below.back()].end());
      std::sort(node.formats.begin(), node.formats.end());
      below.pop_back();
      for (size_t child : node.children) {
        nodes_[child].formats = node.formats;
        below.push_back(child);
      }
    }
  }

  void Match(std::string_view text, Matched* out) const {
    size_t node = 0;
    for (std::string_view rest = text; !rest.empty();) {
      const std::optional<size_t> child = Child(node, rest.front());
      if (!child || !rest.starts_with(nodes_[*child].label)) break;
      rest.remove_prefix(nodes_[*child].label.size());
      node = *child;
    }
    for (size_t index : nodes_[node].formats) {
      const Prepared& known = formats_[index];
      // The prefix is the same: only the rest of the format is left to match.
      out->numbers.clear();
      out->string.clear();
      if (MatchFrom(known.format.substr(known.prefix.size()), text.substr(known.prefix.size()),
                    out)) {
        out->text = known.text;
        return;
      }
    }
    out->text = Text::Unknown;
    out->numbers.clear();
    out->string.clear();
  }

 private:
  struct Prepared {
    Text text;
    std::string_view format, prefix;
  };
  struct Node {
    std::string_view label;  // the bytes from its parent to it
    std::vector<size_t> children;
    std::string firsts;           // the first byte of each child's, in the same order
    std::vector<size_t> formats;  // into formats_
  };

  // The child whose bytes start with `first`: no two do.
  std::optional<size_t> Child(size_t node, char first) const {
    const size_t at = nodes_[node].firsts.find(first);
    if (at == std::string::npos) return std::nullopt;
    return nodes_[node].children[at];
  }

  // The node whose bytes from the root are the prefix, made where there is none.
  size_t Insert(std::string_view prefix) {
    size_t node = 0;
    while (!prefix.empty()) {
      const std::optional<size_t> child = Child(node, prefix.front());
      if (!child) {
        nodes_.push_back({prefix, {}, {}, {}});
        nodes_[node].children.push_back(nodes_.size() - 1);
        nodes_[node].firsts += prefix.front();
        return nodes_.size() - 1;
      }
      const std::string_view label = nodes_[*child].label;
      const size_t same = static_cast<size_t>(
          std::mismatch(label.begin(), label.end(), prefix.begin(), prefix.end()).first -
          label.begin());
      size_t next = *child;
      if (same < label.size()) {
        // The prefix parts from the child's bytes: a node where it does, above the child.
        nodes_.push_back({label.substr(0, same), {*child}, {label[same]}, {}});
        next = nodes_.size() - 1;
        nodes_[*child].label = label.substr(same);
        std::replace(nodes_[node].children.begin(), nodes_[node].children.end(), *child, next);
      }
      prefix.remove_prefix(same);
      node = next;
    }
    return node;
  }

  std::vector<Prepared> formats_;
  std::vector<Node> nodes_;
};

}  // namespace

Matched MatchLogText(std::string_view text) {
  Matched matched;
  MatchLogText(text, &matched);
  return matched;
}

void MatchLogText(std::string_view text, Matched* matched) {
  static const Formats formats;
  formats.Match(Trimmed(text), matched);
}

}  // namespace langmon_report
