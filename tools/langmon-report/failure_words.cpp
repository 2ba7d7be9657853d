#include "tools/langmon-report/failure_words.h"

namespace langmon_report {

bool IsStatusText(Text text) {
  switch (text) {
    case Text::StatusWrongSize:
    case Text::StatusRightSize:
    case Text::StatusWrongFrame:
    case Text::StatusCountTooLarge:
    case Text::StatusChecksum:
    case Text::StatusTimedOut:
    case Text::StatusReturnFalse:
    case Text::StatusWaitTimedOut:
      return true;
    default:
      return false;
  }
}

FailureText Failure(Text text) {
  switch (text) {
    case Text::StatusWrongSize:
      return {"status record of the wrong size", true};
    case Text::StatusWrongFrame:
      return {"status record with a wrong start or end byte", true};
    case Text::StatusCountTooLarge:
      return {"status record with a bad length byte", true};
    case Text::StatusChecksum:
      return {"status record with a bad checksum", true};
    case Text::StatusTimedOut:
      return {"no fresh status record in time", true};
    case Text::StatusWaitTimedOut:
      return {"no status update in time after a change or an alignment print", true};
    case Text::DriverNoFileName:
    case Text::DriverBufferSize:
    case Text::DriverNoBuffer:
    case Text::DriverNoPath:
    case Text::DriverNoBackslash:
    case Text::DriverNoMemory:
    case Text::PrintFileNoPath:
      return {"the alignment print file's path could not be found", false};
    case Text::PrintFileNameUnreadable:
      return {"the alignment print file's path could not be written to the log", false};
    case Text::PrintFileOpenFailed:
    case Text::PrintFileSizeFailed:
    case Text::PrintFileReadFailed:
      return {"the alignment print file could not be read", false};
    case Text::PrintFileWriteFailed:
    case Text::PrintFileShortWrite:
      return {"the alignment print did not all reach the printer", true};
    case Text::SaveCyanFailed:
    case Text::SaveMagentaFailed:
    case Text::SaveYellowFailed:
    case Text::SaveNoPath:
    case Text::CheckSaveFailed:
    case Text::AfterInstallSaveFailed:
      return {"the spit counters could not be saved in the printer settings file", false};
    case Text::CheckNoIniPath:
      return {"the printer settings file's path is not available", false};
    case Text::AppDataNoMemory:
    case Text::AppDataTooLong:
      return {"the settings folder's path could not be built", false};
    case Text::AppDataLink:
    case Text::AppDataManyLinks:
    case Text::AppDataNotChecked:
    case Text::AppDataNotDiskFile:
      return {
          "a settings file was not used: a link on its path, or a part that could not be checked",
          false};
    case Text::AppDataNotFolderName:
    case Text::AppDataDeviceName:
      return {"a settings file was not used: the printer's name is no plain folder name", false};
    case Text::AppDataNotOpened:
      return {"a settings file was held by another program: the values last read were used", false};
    case Text::SettingKept:
      return {"a setting was refused by another program: kept, and written at the next use", false};
    case Text::SettingLost:
      return {"a setting was refused, and no room was left to keep it: lost", false};
    case Text::SettingNotWritten:
      return {"a setting could not be written to its settings file", false};
    case Text::BoxNoText:
    case Text::BoxNoString:
      return {"a box could not be shown: its text is missing", false};
    case Text::BoxNoTitle:
      return {"a box's caption is missing", false};
    case Text::InitNoRoot:
    case Text::InitTimeoutsFailed:
      return {"the monitor's start-up could not read its registry settings", false};
    case Text::InitTimeoutNotKept:
      return {"the spooler did not keep the monitor's registry setting", false};
    case Text::OpenPortFailed:
    case Text::OpenPortInvalid:
    case Text::OpenPortNotFound:
    case Text::OpenPortNoTimeouts:
      return {"a port could not be opened", false};
    case Text::StartNoRecord:
      return {"no memory for a job record: the job runs without checks", false};
    case Text::StartNoPrinter:
      return {"the job's printer could not be opened: the job runs without checks", false};
    case Text::StartPortFailed:
      return {"the port could not start the document (printer off or not connected?)", true};
    case Text::AbortSetJobFailed:
      return {"the spooler did not delete a job", false};
    case Text::WriteFailed:
      return {"a write to the printer failed", true};
    case Text::AlignUnableToSend:
      return {"the alignment print could not be sent", true};
    case Text::AlignNoValues:
      return {"no status came after the alignment print", true};
    case Text::InstallNoStatus:
      return {"no cartridge information after a cartridge change", true};
    case Text::CheckNoStatus:
      return {"no status from the printer for the pre-job check", true};
    case Text::CartridgeMissing:
      return {"no cartridge installed", true};
    default:
      return {nullptr, false};
  }
}

std::string FlagsText(long long flags) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (flags & 0x01) add("label stock out");
  if (flags & 0x02) add("cartridge empty");
  if (flags & 0x04) add("label sensor (TOF) error");
  if (flags & ~0x07LL) add("unrecoverable error");
  return "error flags " + std::to_string(flags) + " (" + text + ")";
}

}  // namespace langmon_report
