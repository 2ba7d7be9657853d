// The monitor's own log texts (levels 3 and above), and the matcher that recognises a logged line
// by its format text and takes the numbers out of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace langmon_report {

enum class Text {
  Unknown,
  // Monitor start and ports.
  InitCalled,
  InitNoRoot,
  InitTimeoutsFailed,
  InitTimeoutNotKept,
  Shutdown,
  OpenPortFailed,
  OpenPortCalled,
  OpenPortInvalid,
  OpenPortNotFound,
  OpenPortReturn,
  OpenPortNoTimeouts,
  OpenPortCleanup,
  ClosePortCalled,
  ClosePortReturning,
  // Job start and end.
  StartCalled,
  StartInvalid,
  StartBadLevel,
  StartBusy,
  StartNoRecord,
  StartNoPrinter,
  StartWarned,
  StartNotWarned,
  StartPortFailed,
  StartReturn,
  StartReturnTrue,
  StartReturnFalse,
  EndCalled,
  EndReturning,
  AbortBegin,
  AbortSetJobFailed,
  AbortEnd,
  // Writes.
  FirstWrite,
  HeaderWithoutJob,
  HeaderFound,
  CheckFailed,
  CheckPassed,
  EmptyWrite,
  WriteFailed,
  // Status reads.
  StatusWrongSize,
  StatusRightSize,
  StatusWrongFrame,
  StatusCountTooLarge,
  StatusChecksum,
  StatusTimedOut,
  StatusReturnFalse,
  StatusWaitTimedOut,
  ProgressDialog,
  // Print files and paths.
  DriverNoFileName,
  DriverBufferSize,
  DriverNoBuffer,
  DriverNoPath,
  DriverNoBackslash,
  DriverNoMemory,
  PrintFileNoPath,
  PrintFileName,
  PrintFileNameUnreadable,
  PrintFileOpenFailed,
  PrintFileSizeFailed,
  PrintFileReadFailed,
  PrintFileWriteFailed,
  PrintFileShortWrite,
  // Settings files.
  SaveCyanFailed,
  SaveMagentaFailed,
  SaveYellowFailed,
  SaveNoPath,
  AppDataNoMemory,
  AppDataTooLong,
  AppDataLink,
  AppDataManyLinks,
  AppDataNotChecked,
  AppDataNotDiskFile,
  AppDataNotFolderName,
  AppDataDeviceName,
  AppDataNotOpened,
  // Settings another program held: a write kept for later or lost, a read answered from memory.
  SettingKept,
  SettingLost,
  SettingNotWritten,
  SettingWrittenLate,
  SettingStillToWrite,
  SettingLastValue,
  SettingNeverRead,
  // Message boxes.
  BoxNotShown,
  BoxNoText,
  BoxNoString,
  BoxNoTitle,
  BoxOwnerAnswered,
  BoxOwnerTimedOut,
  BoxOwnerFailed,
  BoxNobody,
  NoProgressDialog,
  // The pre-job check.
  CheckBegin,
  CheckGettingStatus,
  CheckGotStatus,
  CheckNoStatus,
  CheckNoIniPath,
  CheckSaved,
  CheckSaveFailed,
  CheckErrors,
  CheckErrorFound,
  OutOfStock,
  TofSensor,
  Unrecoverable,
  Unanswered,
  EmptyInstall,
  EmptyCleared,
  AfterInstall,
  AfterInstallSaveFailed,
  SameCartridge,
  InkCheck,
  InkLow,
  InkSpits,
  InkLimit,
  InkOriginalLevel,
  InkNewLevel,
  InkPassedLevel1,
  InkPassedLevel2,
  InkPassedLevel3,
  InkNegative,
  AlignBypassed,
  AlignCheck,
  AlignNotNeeded,
  AlignNeeded,
  AlignCalling,
  AlignCancelled,
  AlignFailed,
  // Cartridges and alignment.
  CartridgesCheck,
  CartridgeInvalid,
  CartridgeMissing,
  CartridgesOk,
  InstallBegin,
  InstallPrompted,
  InstallChecking,
  InstallNoStatus,
  InstallResult,
  InstallCancelled,
  ResetBlack,
  ResetColour,
  AlignUnableToSend,
  AlignNoValues,
  AlignStatusArrived,
};

struct Matched {
  Text text = Text::Unknown;
  std::vector<long long> numbers;  // the %d, %i, %u, %x values, in order
  std::string string;              // the %s value, if any
  long long First() const { return numbers.empty() ? 0 : numbers.front(); }
};

// Recognises one logged text (without its level prefix). Blanks around it are not compared.
Matched MatchLogText(std::string_view text);
// The same, into `matched`, whose room is used again.
void MatchLogText(std::string_view text, Matched* matched);

// Whether `text` is `format` with its conversions filled in; the values go to `out`.
bool MatchFormat(std::string_view format, std::string_view text, Matched* out);

}  // namespace langmon_report
