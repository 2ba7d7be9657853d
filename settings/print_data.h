// Keeps the printer's latest spit counters in the job's printer settings file.
#pragma once

#include "monitor/monitor.h"
#include "platform/win32.h"
#include "printer/status.h"

// Writes CyanSpits, MagentaSpits and YellowSpits from the record, in that order. FALSE only when
// the settings path cannot be built; a write that fails is logged and the others still made.
BOOL SaveOffPrintData(const IniJob* pIniJob, const StatusRecord* pStatus);
