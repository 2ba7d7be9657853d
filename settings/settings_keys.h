// The per-printer settings: where they live, the two INI files, their one section and every key
// with the value a read yields when the key or the file is missing. Other code reads and writes
// these keys directly through the profile functions, always by these names.
#pragma once

#include "platform/win32.h"

// ---- Settings directory: <common app data>\VMT\Drivers\<printer name> ------------------------
inline constexpr WCHAR kVendorFolderName[] = WSTR("VMT");
inline constexpr WCHAR kDriversFolderName[] = WSTR("Drivers");

// ---- Files -----------------------------------------------------------------------------------
// The printer settings file is the job's printer name followed by this extension.
inline constexpr WCHAR kPrinterSettingsExtension[] = WSTR(".ini");
// Installed with the printer; this monitor only reads it.
inline constexpr WCHAR kModelSettingsFileName[] = WSTR("VM_lp250.ini");

// Both files keep everything in this one section.
inline constexpr WCHAR kSettingsSection[] = WSTR("settings");

// ---- Printer settings file -------------------------------------------------------------------
// Warn level already given for the colour / black-family cartridge, 1..4.
inline constexpr WCHAR kKeyWarnLevelColor[] = WSTR("WarnLevelColor");
inline constexpr WCHAR kKeyWarnLevelBlack[] = WSTR("WarnLevelBlack");
inline constexpr INT kDefaultWarnLevel = 1;

// 0 lets BypassAlignWarning (model file) skip the alignment check.
inline constexpr WCHAR kKeyAlignWarningRequired[] = WSTR("AlignWarningRequired");
inline constexpr INT kDefaultAlignWarningRequired = 1;

// Jobs counted by the pre-job check; it stops growing at the limit.
inline constexpr WCHAR kKeyPrintCounter[] = WSTR("PrintCounter");
inline constexpr INT kDefaultPrintCounter = 0;
inline constexpr INT kPrintCounterLimit = 32000;

// Seconds a question shown in the job owner's session waits for an answer; 0 waits until it
// comes. A question not answered in time counts as unanswered.
inline constexpr WCHAR kKeyPromptTimeout[] = WSTR("PromptTimeout");
inline constexpr INT kDefaultPromptTimeout = 0;
// Used instead when the file cannot be read now and never was: a question must not wait for ever
// because someone holds the file.
inline constexpr DWORD kUnreadPromptTimeoutSeconds = 120;

// The spit counters of the latest status record, written as "%lu"; nothing reads them back.
inline constexpr WCHAR kKeyCyanSpits[] = WSTR("CyanSpits");
inline constexpr WCHAR kKeyMagentaSpits[] = WSTR("MagentaSpits");
inline constexpr WCHAR kKeyYellowSpits[] = WSTR("YellowSpits");

// ---- Model settings file ---------------------------------------------------------------------
// Spit limits in millions of spits.
inline constexpr WCHAR kKeyColorSpits[] = WSTR("ColorSpits");
inline constexpr INT kDefaultColorSpits = 515;
inline constexpr WCHAR kKeyBlackSpits[] = WSTR("BlackSpits");  // black family but pigment black
inline constexpr INT kDefaultBlackSpits = 400;
inline constexpr WCHAR kKeyPigBlackSpits[] = WSTR("PigBlackSpits");  // cartridge type '0'
inline constexpr INT kDefaultPigBlackSpits = 600;

// Non-zero skips the alignment check when AlignWarningRequired is 0.
inline constexpr WCHAR kKeyBypassAlignWarning[] = WSTR("BypassAlignWarning");
inline constexpr INT kDefaultBypassAlignWarning = 0;

// 0 selects quiet mode: no message boxes at all.
inline constexpr WCHAR kKeyShowUi[] = WSTR("SHOW_UI");
inline constexpr INT kDefaultShowUi = 1;
