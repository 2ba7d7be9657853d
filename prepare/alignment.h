// Aligning a newly installed cartridge.
#pragma once

#include "printer/status.h"
#include "records/records.h"

// FALSE exactly when the marks are to be checked and both read '(' (the printer could not
// measure the alignment).
BOOL AlignMarksValid(const StatusRecord* pStatus, BOOL fCheckMarks);

// Prints the alignment page for the cartridge family and finishes the alignment with the
// printer's measured or default values. FALSE when the page could not be sent or no status came
// back after it.
BOOL OemPtrAlignPrinter(IniPort* pIniPort, IniJob* pIniJob, DWORD dwCartType);
