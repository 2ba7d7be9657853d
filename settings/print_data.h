// Keeps the printer's latest spit counters in the job's printer settings file.
#pragma once

#include "platform/win32.h"
#include "printer/status.h"
#include "records/records.h"
#include "settings/held_settings.h"

// Writes CyanSpits, MagentaSpits and YellowSpits from the record, in that order, holding the
// settings file for the three writes. FALSE only when the settings path cannot be built or held;
// a write that fails is logged and the others still made.
BOOL SaveOffPrintData(const IniJob* pIniJob, const StatusRecord* pStatus);

// The same into a printer settings file that the caller already holds for a longer use.
BOOL SaveOffPrintDataTo(HeldSettings* pHeld, const StatusRecord* pStatus);
