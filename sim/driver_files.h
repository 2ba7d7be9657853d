// The printer driver's folder as the simulated setup provides it: the alignment print files that
// the monitor sends, and the stand-in spooler's printer whose driver lives there.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace sim {

// The names under which the string table finds the two alignment print files.
constexpr char kAlignFileColor[] = "VM_Al250.PRN";
constexpr char kAlignFileBlack[] = "VMAl250K.PRN";
// The driver file the spooler reports for the printer (it need not exist).
constexpr char kDriverFileName[] = "LABELDRV.DLL";

// An alignment print as the simulated printer recognises it: the begin marker of the family
// ('C' colour, 'K' black), bodyBytes bytes of printable print data, the end marker.
std::vector<BYTE> AlignmentPrintBytes(char family, size_t bodyBytes = 200);

// Writes a file of the driver folder (the folder is created when missing); the path written.
std::string WriteDriverFile(const std::string& folder, const std::string& name,
                            const std::vector<BYTE>& bytes);
// Writes both alignment print files, colour and black, into the folder.
void WriteAlignmentFiles(const std::string& folder, size_t bodyBytes = 200);

// The driver file's path in the folder as GetPrinterDriverW reports it: Windows separators,
// which the native stand-ins map back onto the folder.
std::u16string DriverPathIn(const std::string& folder);

#ifndef _WIN32
// Gives the stand-in spooler a printer whose driver lives in the folder.
void RegisterPrinter(const std::u16string& printerName, const std::string& driverFolder);
#endif

}  // namespace sim
