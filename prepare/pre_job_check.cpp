#include "prepare/pre_job_check.h"

#include "diag/log.h"
#include "prepare/alignment.h"
#include "prepare/cartridge_install.h"
#include "prepare/ink_level.h"
#include "prepare/ink_limits.h"
#include "prepare/unanswered_questions.h"
#include "printer/commands.h"
#include "printer/status.h"
#include "printer/status_reader.h"
#include "settings/held_settings.h"
#include "settings/print_data.h"
#include "settings/settings_keys.h"
#include "settings/wide_number.h"

namespace {

constexpr DWORD kFirstStatusTimeoutMs = 120000;
constexpr DWORD kStatusRereadTimeoutMs = 5000;
constexpr DWORD kBlackHardLimit = 909000000;
constexpr DWORD kColorHardLimit = 828000000;
constexpr INT kFinalWarnLevel = 5;
constexpr INT kPrintCounterCap = 32000;

constexpr INT kDefaultWarnLevel = 1;
constexpr INT kDefaultAlignWarningRequired = 1;
constexpr INT kDefaultBypassAlignWarning = 0;
constexpr INT kDefaultPrintCounter = 0;

// What one run of the check has learned and decided.
struct CheckState {
  IniJob* pIniJob;
  IniPort* pIniPort;
  StatusRecord status;
  BOOL fGoOn = FALSE;
  BOOL bResult = TRUE;
  INT nWarnLevel = kDefaultWarnLevel;
  INT nAlignWarningRequired = kDefaultAlignWarningRequired;
  DWORD dwSpitLimit = 1;
  INT nBypassAlignWarning = kDefaultBypassAlignWarning;
  // Held from the first read to the last write, questions included: nothing on its path can be
  // swapped while the user takes their time.
  HeldSettings printerIni;

  void StopJob() {
    fGoOn = FALSE;
    bResult = FALSE;
  }
};

int Ask(const CheckState& check, UINT uTextId, UINT uType) {
  return AskUser(check.pIniJob, uTextId, uType);
}

// A re-read whose outcome the loops do not examine. Only a record that passed validation replaces
// the one in hand, so a failed read never leaves rejected bytes to be judged as the printer's
// state.
void RereadStatus(CheckState& check) {
  StatusRecord fresh;
  if (GetRoboStatusUSB(check.pIniPort, &fresh, kStatusRereadTimeoutMs, TRUE)) {
    check.status = fresh;
  }
}

const WCHAR* WarnLevelKey(const StatusRecord& status) {
  return IsBlackFamily(status.bCartType) ? kKeyWarnLevelBlack : kKeyWarnLevelColor;
}

// Tries again for as long as nobody cancels: a printer switched on later ends the wait.
bool ReadFirstStatus(CheckState& check) {
  while (true) {
    if (GetRoboStatusUSB(check.pIniPort, &check.status, kFirstStatusTimeoutMs, TRUE)) {
      LogMessage(LOG_INFORM, " PrepareForNextPrint: got status - continue\n");
      return true;
    }
    LogMessage(LOG_INFORM, " ** PrepareForNextPrint: FAILED to get RoboStatus\n");
    const int answer = Ask(check, IDS_NO_STATUS, MB_SYSTEMMODAL | MB_ICONEXCLAMATION | MB_OKCANCEL);
    if (answer == IDCANCEL) {
      return false;
    }
  }
}

void ReadPrinterSettings(CheckState& check) {
  if (!HoldPrinterSettings(check.pIniJob->hPrinter, check.pIniJob->pszPrinterName,
                           &check.printerIni)) {
    LogMessage(LOG_INFORM, " ** PrepareForNextPrint: Failed to get printer ini path\n");
    return;
  }
  check.nWarnLevel = static_cast<INT>(
      ReadHeldSetting(&check.printerIni, WarnLevelKey(check.status), kDefaultWarnLevel));
  check.nAlignWarningRequired = static_cast<INT>(
      ReadHeldSetting(&check.printerIni, kKeyAlignWarningRequired, kDefaultAlignWarningRequired));
}

// Held for its reads only: the check never writes it.
void ReadModelSettings(CheckState& check) {
  HeldSettings modelIni;
  if (!HoldModelSettings(check.pIniJob->hPrinter, &modelIni)) {
    return;
  }
  check.dwSpitLimit = ReadSpitLimit(&modelIni, check.status.bCartType);
  check.nBypassAlignWarning = static_cast<INT>(
      ReadHeldSetting(&modelIni, kKeyBypassAlignWarning, kDefaultBypassAlignWarning));
  LogMessage(LOG_TRACE, ">>GlobalFree ptr %.8x\n",
             static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(modelIni.pszPath)));
  ReleaseSettings(&modelIni);
}

// Asks again after every re-read until the operator has fixed the printer or cancels.
void CheckPrinterErrors(CheckState& check) {
  LogMessage(LOG_INFORM, " ** PrepareForNextPrint: Checking for printer error\n");
  while (check.fGoOn && check.status.bErrorFlags != 0) {
    const BYTE bFlags = check.status.bErrorFlags;
    LogMessage(LOG_INFORM, " ** PrepareForNextPrint: Printer Error Found %i \n",
               static_cast<int>(bFlags));
    int answer;
    if (bFlags & STATUS_ERROR_OUT_OF_STOCK) {
      LogMessage(LOG_WARNING, "-->OUT OF STOCK!!\n");
      answer = Ask(check, IDS_OUT_OF_STOCK, MB_SYSTEMMODAL | MB_ICONHAND | MB_OKCANCEL);
    } else if (bFlags & STATUS_ERROR_TOF_SENSOR) {
      LogMessage(LOG_WARNING, "-->TOF sensor error!!\n");
      answer = Ask(check, IDS_TOF_ERROR, MB_SYSTEMMODAL | MB_ICONHAND | MB_OKCANCEL);
    } else if (bFlags & STATUS_ERROR_CARTRIDGE_EMPTY) {
      return;  // the ink check deals with an empty cartridge
    } else {
      LogMessage(LOG_ERROR, "Unrecoverable ERROR (%i)\n", static_cast<int>(bFlags));
      Ask(check, IDS_UNRECOVERABLE_ERROR, MB_SYSTEMMODAL | MB_ICONHAND | MB_OK);
      check.StopJob();
      return;
    }
    if (answer == IDCANCEL) {
      check.StopJob();
      return;
    }
    RereadStatus(check);
  }
}

// The cartridge is past its hard limit. Returns true when the user chose to change it.
bool HandleEmptyCartridge(CheckState& check) {
  DWORD cbWritten = 0;
  check.fGoOn = WritePrinterCommand(check.pIniPort, kCartEmptyCommand, &cbWritten);
  UnansweredQuestions unanswered;
  while (true) {
    const int answer = Ask(check, IDS_INK_EMPTY, MB_SYSTEMMODAL | MB_ICONEXCLAMATION | MB_YESNO);
    if (answer == IDYES) {
      LogMessage(LOG_INFORM, "CartEmpty user chose to install cartridges\n");
      return true;
    }
    RereadStatus(check);
    if (check.fGoOn && !(check.status.bErrorFlags & STATUS_ERROR_CARTRIDGE_EMPTY)) {
      LogMessage(LOG_INFORM, "CartEmpty condition (%x) cleared by user we can continue\n",
                 static_cast<unsigned>(check.status.bErrorFlags));
      return false;
    }
    // Once the command is out, clearing the condition at the printer ends the loop. Without it
    // only a Yes can, so unanswered questions are bounded there.
    if (!check.fGoOn && unanswered.LimitReached(answer)) {
      check.StopJob();
      return false;
    }
  }
}

void ChangeCartridge(CheckState& check, INT nNewWarnLevel) {
  if (!InstallCartridges(check.pIniPort, check.pIniJob, &check.status, TRUE)) {
    check.StopJob();
  } else {
    LogMessage(LOG_INFORM, "Getting VORNEX Data after cart install...\n");
    if (SaveOffPrintDataTo(&check.printerIni, &check.status)) {
      LogMessage(LOG_INFORM, " ** Alignment Values successfully saved\n");
    } else {
      LogMessage(LOG_INFORM, " ** JOB FAILED: failed to save VORNEX Data\n");
      check.StopJob();
    }
  }
  if (nNewWarnLevel == kFinalWarnLevel && check.status.bNewCart != 1) {
    LogMessage(LOG_INFORM, " ** JOB FAILED: User changed to same cart in FinalWarnLevel\n");
    Ask(check, IDS_RESTART_JOB, MB_SYSTEMMODAL | MB_ICONHAND | MB_OK);
    check.StopJob();
  }
}

void CheckInk(CheckState& check) {
  const StatusRecord& status = check.status;
  const DWORD dwSpits = CartridgeSpitCount(status);
  const DWORD dwHardLimit = IsBlackFamily(status.bCartType) ? kBlackHardLimit : kColorHardLimit;

  LogMessage(LOG_INFORM, "Check Ink Level(Spits=%lu, MaxSpits=%lu, Level=%d\n", dwSpits,
             check.dwSpitLimit, check.nWarnLevel);
  const INT nNewWarnLevel =
      CheckInkLevel(dwSpits, check.dwSpitLimit, dwHardLimit, check.nWarnLevel);

  bool fChangeCartridge = false;
  if (nNewWarnLevel == kFinalWarnLevel) {
    fChangeCartridge = HandleEmptyCartridge(check);
  } else if (nNewWarnLevel > check.nWarnLevel) {
    LogMessage(LOG_INFORM, "** Cartridge is low on ink, warning the user\n");
    // Stored before asking, so the same level is never warned twice.
    if (check.printerIni.pszPath != nullptr) {
      WCHAR szLevel[kDecimalTextSize];
      FormatSignedDecimal(nNewWarnLevel, szLevel);
      WriteHeldSetting(&check.printerIni, WarnLevelKey(status), szLevel);
    }
    fChangeCartridge =
        Ask(check, IDS_INK_LOW, MB_SYSTEMMODAL | MB_ICONEXCLAMATION | MB_YESNO) == IDYES;
  }
  if (fChangeCartridge) {
    ChangeCartridge(check, nNewWarnLevel);
  }

  LogMessage(LOG_INFORM, " --> Cartridge Spits = %lu \n", dwSpits);
  LogMessage(LOG_INFORM, " --> Spits LIMIT = %lu \n", check.dwSpitLimit);
  LogMessage(LOG_INFORM, " --> Orig Ink Level = %i \n", check.nWarnLevel);
  LogMessage(LOG_INFORM, " --> New Ink Level = %i \n", nNewWarnLevel);
}

void CheckAlignment(CheckState& check) {
  if (check.nBypassAlignWarning != 0 && check.nAlignWarningRequired == 0) {
    LogMessage(LOG_INFORM, " ** PrepareForNextPrint: Cartridge alignment check bypassed\n");
    return;
  }
  LogMessage(LOG_INFORM, " ** PrepareForNextPrint: Check for cartridge alignment\n");
  if (check.status.bNewCart != 1) {
    LogMessage(LOG_INFORM, "PrepareForNextPrint: Cartridge does not need alignment\n");
    return;
  }
  LogMessage(LOG_INFORM, "PrepareForNextPrint: Cartridge needs alignment\n");
  const int answer =
      Ask(check, IDS_ALIGN_QUESTION, MB_SYSTEMMODAL | MB_ICONINFORMATION | MB_YESNOCANCEL);
  LogMessage(LOG_INFORM, "PrepareForNextPrint: calling OutputFileUSB\n");

  bool fAlign = true;
  if (answer == IDNO) {
    OemPtrMessageBoxForJob(check.pIniJob, MAKEINTRESOURCEW(IDS_UNLOAD_STOCK),
                           MAKEINTRESOURCEW(IDS_MONITOR_CAPTION), MB_SYSTEMMODAL | MB_OK);
  } else if (answer == IDCANCEL) {
    LogMessage(LOG_INFORM, " ** JOB FAILED: USER CANCELLED ON ALIGN\n");
    check.fGoOn = FALSE;
    fAlign = false;
  }
  if (fAlign && !OemPtrAlignPrinter(check.pIniPort, check.pIniJob, check.status.bCartType)) {
    Ask(check, IDS_ALIGN_FAILED, MB_SYSTEMMODAL | MB_ICONHAND | MB_OK);
    LogMessage(LOG_INFORM, " ** JOB FAILED: Failed to align carts\n");
    check.fGoOn = FALSE;
  }
  // The job was laid out for the old alignment values: it always has to be sent again.
  Ask(check, IDS_RESTART_JOB, MB_SYSTEMMODAL | MB_ICONHAND | MB_OK);
  check.bResult = FALSE;
}

void CountPrintedJob(CheckState& check) {
  const UINT uCounter = ReadHeldSetting(&check.printerIni, kKeyPrintCounter, kDefaultPrintCounter);
  // Signed 32-bit arithmetic that wraps rather than overflowing.
  INT nCounter = static_cast<INT>(uCounter + 1u);
  if (nCounter > kPrintCounterCap) {
    nCounter = kPrintCounterCap;
  }
  WCHAR szCounter[kDecimalTextSize];
  FormatSignedDecimal(nCounter, szCounter);
  WriteHeldSetting(&check.printerIni, kKeyPrintCounter, szCounter);
  LogMessage(LOG_TRACE, "Langmon: updated print counter to %d\n", nCounter);
}

}  // namespace

BOOL PrepareForNextPrint(IniJob* pIniJob, IniPort* pIniPort) {
  LogMessage(LOG_INFORM, " ** PrepareForNextPrint **\n");
  LogMessage(LOG_INFORM, " ** PrepareForNextPrint: Getting Status Data\n");

  CheckState check{};
  check.pIniJob = pIniJob;
  check.pIniPort = pIniPort;
  if (ReadFirstStatus(check)) {
    check.fGoOn = TRUE;
  } else {
    check.StopJob();
  }

  ReadPrinterSettings(check);

  if (check.fGoOn) {
    if (SaveOffPrintDataTo(&check.printerIni, &check.status)) {
      LogMessage(LOG_INFORM, " ** Alignment Values successfully saved\n");
    } else {
      LogMessage(LOG_INFORM, " ** Failed to save Alignment Values\n");
    }
    ReadModelSettings(check);
  }

  CheckPrinterErrors(check);
  if (check.fGoOn) {
    CheckInk(check);
  }
  if (check.fGoOn) {
    CheckAlignment(check);
  }

  if (check.printerIni.pszPath != nullptr && check.fGoOn) {
    CountPrintedJob(check);
  }
  ReleaseSettings(&check.printerIni);
  return check.bResult;
}
