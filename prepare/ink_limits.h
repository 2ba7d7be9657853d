// What a cartridge's ink is measured by: the spit counters of its inks and the limit configured
// for its type. The pre-job check and the ink levels reported to Windows read them alike.
#pragma once

#include "platform/win32.h"
#include "printer/status.h"
#include "settings/held_settings.h"

// The colours of ink a cartridge of either kind can hold: the three of a colour cartridge, then
// the one of the black family.
inline constexpr DWORD kInkColorCount = 4;
inline constexpr const WCHAR* kInkColors[kInkColorCount] = {WSTR("Yellow"), WSTR("Magenta"),
                                                            WSTR("Cyan"), WSTR("Black")};

// One ink of the installed cartridge and the counter that measures its use.
struct CartridgeInk {
  const WCHAR* pszColor;  // one of kInkColors
  DWORD dwSpits;
};
inline constexpr DWORD kMaxCartridgeInks = 3;

// The inks of the cartridge the record reports: black, on the yellow counter, for the black
// family; yellow, magenta and cyan for a colour cartridge. Returns how many were filled in.
DWORD GetCartridgeInks(const StatusRecord& status, CartridgeInk inks[kMaxCartridgeInks]);

// The spits a cartridge is judged by: those of its most used ink.
DWORD CartridgeSpitCount(const StatusRecord& status);

// The spit limit the model settings file sets for a cartridge type (PigBlackSpits for the pigment
// black cartridge, BlackSpits for the rest of the black family, ColorSpits otherwise; millions of
// spits), read from the held file. A setting too large for 32 bits means no limit at all.
DWORD ReadSpitLimit(const HeldSettings* pModelIni, BYTE bCartType);
