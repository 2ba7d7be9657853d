#include "prepare/ink_limits.h"

#include "settings/settings_keys.h"

namespace {

constexpr DWORD kSpitsPerLimitUnit = 1000000;

enum InkColor : DWORD { kYellow, kMagenta, kCyan, kBlack };

// Limits are kept in millions of spits; one too large for 32 bits means "no limit", not a small
// limit that the wrapped product would give.
DWORD SpitLimitFromSetting(UINT uMillions) {
  constexpr DWORD kMaxDword = 0xFFFFFFFF;
  if (uMillions > kMaxDword / kSpitsPerLimitUnit) {
    return kMaxDword;
  }
  return uMillions * kSpitsPerLimitUnit;
}

}  // namespace

DWORD GetCartridgeInks(const StatusRecord& status, CartridgeInk inks[kMaxCartridgeInks]) {
  if (IsBlackFamily(status.bCartType)) {
    inks[0] = {kInkColors[kBlack], YellowSpits(status)};
    return 1;
  }
  inks[0] = {kInkColors[kYellow], YellowSpits(status)};
  inks[1] = {kInkColors[kMagenta], MagentaSpits(status)};
  inks[2] = {kInkColors[kCyan], CyanSpits(status)};
  return 3;
}

DWORD CartridgeSpitCount(const StatusRecord& status) {
  CartridgeInk inks[kMaxCartridgeInks];
  const DWORD count = GetCartridgeInks(status, inks);
  DWORD dwSpits = 0;
  for (DWORD i = 0; i < count; ++i) {
    dwSpits = inks[i].dwSpits > dwSpits ? inks[i].dwSpits : dwSpits;
  }
  return dwSpits;
}

DWORD ReadSpitLimit(const HeldSettings* pModelIni, BYTE bCartType) {
  UINT uMillions;
  if (bCartType == kPigmentBlackCartType) {
    uMillions = ReadHeldSetting(pModelIni, kKeyPigBlackSpits, kDefaultPigBlackSpits);
  } else if (IsBlackFamily(bCartType)) {
    uMillions = ReadHeldSetting(pModelIni, kKeyBlackSpits, kDefaultBlackSpits);
  } else {
    uMillions = ReadHeldSetting(pModelIni, kKeyColorSpits, kDefaultColorSpits);
  }
  return SpitLimitFromSetting(uMillions);
}
