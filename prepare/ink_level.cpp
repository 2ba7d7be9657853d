#include "prepare/ink_level.h"

#include <cstdint>

#include "diag/log.h"

namespace {

// part × 100 ÷ whole, rounded half up. Double precision, because a counter times 100 does not
// fit 32 bits. 0 ÷ 0 counts as nothing left.
int16_t RoundedPercent(DWORD dwPart, DWORD dwWhole) {
  if (dwWhole == 0) {
    return 0;
  }
  const double percent = static_cast<double>(dwPart) * 100.0 / static_cast<double>(dwWhole) + 0.5;
  return static_cast<int16_t>(static_cast<int>(percent));
}

// Counts and limits go to the log through "%ld": as signed 32-bit values.
LONG AsLogged(DWORD value) { return static_cast<LONG>(value); }

}  // namespace

INT PercentOfLimitLeft(DWORD dwSpits, DWORD dwLimit) {
  return dwSpits < dwLimit ? RoundedPercent(dwLimit - dwSpits, dwLimit) : 0;
}

INT CheckInkLevel(DWORD dwSpits, DWORD dwLimit, DWORD dwHardLimit, INT nWarnLevel) {
  if (dwSpits > dwHardLimit) {
    return kWarnLevelFinal;
  }

  if (dwSpits <= dwLimit) {
    const INT remaining = PercentOfLimitLeft(dwSpits, dwLimit);
    if (remaining <= 10 && nWarnLevel <= kWarnLevelNone) {
      LogMessage(LOG_INFORM, "CheckInkLevel Passing warn level 1 spits: %ld, max: %ld\n",
                 AsLogged(dwSpits), AsLogged(dwLimit));
      return kWarnLevelLow;
    }
    if (remaining > 0 || nWarnLevel > kWarnLevelLow) {
      return nWarnLevel;
    }
    LogMessage(LOG_INFORM, "CheckInkLevel Passing warn level 2 spits: %ld, max: %ld\n",
               AsLogged(dwSpits), AsLogged(dwLimit));
    return kWarnLevelAtLimit;
  }

  // Over the limit: measured against the count itself, not the limit.
  const int16_t overrun = RoundedPercent(dwSpits - dwLimit, dwSpits);
  if (overrun >= 10) {
    if (nWarnLevel > kWarnLevelAtLimit) {
      return nWarnLevel;
    }
    LogMessage(LOG_INFORM, "CheckInkLevel Passing warn level 3 spits: %ld, max: %ld\n",
               AsLogged(dwSpits), AsLogged(dwLimit));
    return kWarnLevelOverLimit;
  }
  if (nWarnLevel >= kWarnLevelAtLimit) {
    return nWarnLevel;
  }
  LogMessage(LOG_INFORM, "CheckInkLevel Negspits but not yet at warn level3 spits: %ld, max: %ld\n",
             AsLogged(dwSpits), AsLogged(dwLimit));
  return kWarnLevelAtLimit;
}
