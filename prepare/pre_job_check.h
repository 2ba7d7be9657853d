// The check that runs before a job reaches the printer.
#pragma once

#include "records/records.h"

// TRUE lets the job through; FALSE means the job must not print.
BOOL PrepareForNextPrint(IniJob* pIniJob, IniPort* pIniPort);
