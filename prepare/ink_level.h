// Turns a cartridge's spit count into a warn level.
#pragma once

#include "platform/win32.h"

// Warn levels, as the printer settings file keeps them (WarnLevelColor, WarnLevelBlack).
inline constexpr INT kWarnLevelNone = 1;       // nothing warned yet
inline constexpr INT kWarnLevelLow = 2;        // less than 10.5 % of the limit left
inline constexpr INT kWarnLevelAtLimit = 3;    // at the limit, or over it by less than 9.5 %
inline constexpr INT kWarnLevelOverLimit = 4;  // over the limit by 9.5 % of the count or more
inline constexpr INT kWarnLevelFinal = 5;      // past the hard limit; never stored

// The warn level for dwSpits against the spit limit and the hard limit, given the level already
// warned. Returns a higher level only when a new threshold has been crossed, never a lower one,
// except kWarnLevelFinal, which is returned whenever the count is above the hard limit.
INT CheckInkLevel(DWORD dwSpits, DWORD dwLimit, DWORD dwHardLimit, INT nWarnLevel);

// What is left of the limit, in per cent rounded half up (0 to 100): the measure CheckInkLevel
// judges a count within its limit by. 0 once the count has reached or passed the limit.
INT PercentOfLimitLeft(DWORD dwSpits, DWORD dwLimit);
