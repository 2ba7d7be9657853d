// Walking the user through a cartridge change.
#pragma once

#include "printer/status.h"
#include "records/records.h"

// Runs change passes until the printer reports a usable cartridge (TRUE; the record then holds
// its fresh status) or the user cancels (FALSE). fPromptFirst FALSE skips the instructions on the
// first pass.
BOOL InstallCartridges(IniPort* pIniPort, IniJob* pIniJob, StatusRecord* pStatus,
                       BOOL fPromptFirst);
