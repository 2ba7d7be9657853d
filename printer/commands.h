// The fixed commands the monitor sends to the printer by itself while a job is held by the pre-job
// check. Each goes straight to the port monitor's pfnWritePort, whole, in one call of exactly its
// length, so it is never scanned for a job header.
#pragma once

#include "platform/win32.h"
#include "records/records.h"

struct PrinterCommand {
  const BYTE* pBytes;
  DWORD cbLength;
};

// ESC '*' 05 00: the carriage moves to the cartridge-change position.
constexpr BYTE kCartChangeStartBytes[] = {0x1B, 0x2A, 0x05, 0x00};
// ESC '*' 05 01: the cartridge change is over.
constexpr BYTE kCartChangeEndBytes[] = {0x1B, 0x2A, 0x05, 0x01};
// ESC '*' 'm' 04 04: the cartridge is past its hard limit.
constexpr BYTE kCartEmptyBytes[] = {0x1B, 0x2A, 0x6D, 0x04, 0x04};
// Ends an alignment: the printer keeps the values it has measured (or its defaults).
constexpr BYTE kAlignFinishBytes[] = {0x1B, 0x04, 0x01, 0x00, 0x0E, 0x00, 0x00, 0x2E,
                                      0xA5, 0x00, 0x0B, 0x40, 0xE0, 0x81, 0x00, 0x01,
                                      0x00, 0x01, 0x01, 0x02, 0x01, 0x00};

constexpr DWORD kCartChangeStartLength = sizeof(kCartChangeStartBytes);
constexpr DWORD kCartChangeEndLength = sizeof(kCartChangeEndBytes);
constexpr DWORD kCartEmptyLength = sizeof(kCartEmptyBytes);
constexpr DWORD kAlignFinishLength = sizeof(kAlignFinishBytes);

static_assert(kCartChangeStartLength == 4 && kCartChangeEndLength == 4);
static_assert(kCartEmptyLength == 5 && kAlignFinishLength == 22);

constexpr PrinterCommand kCartChangeStartCommand = {kCartChangeStartBytes, kCartChangeStartLength};
constexpr PrinterCommand kCartChangeEndCommand = {kCartChangeEndBytes, kCartChangeEndLength};
constexpr PrinterCommand kCartEmptyCommand = {kCartEmptyBytes, kCartEmptyLength};
constexpr PrinterCommand kAlignFinishCommand = {kAlignFinishBytes, kAlignFinishLength};

// The longest command; a sender's stack copy of any command fits in this many bytes.
constexpr DWORD kLongestCommandLength = kAlignFinishLength;

// Writes one command to the printer in a single pfnWritePort call of exactly its length. The port
// monitor's entry takes a writable buffer, so the bytes go out from a copy on the stack. The
// caller's DWORD receives the count the port monitor reports; the result is the port monitor's.
inline BOOL WritePrinterCommand(IniPort* pIniPort, const PrinterCommand& command,
                                LPDWORD pcbWritten) {
  BYTE buffer[kLongestCommandLength];
  for (DWORD i = 0; i < command.cbLength && i < kLongestCommandLength; ++i) {
    buffer[i] = command.pBytes[i];
  }
  return pIniPort->PortMonitor.pfnWritePort(pIniPort->hPort, buffer, command.cbLength, pcbWritten);
}
