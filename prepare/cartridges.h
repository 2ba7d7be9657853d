// Whether a usable cartridge is installed, from the cartridge state of a status record.
#pragma once

#include "platform/win32.h"
#include "printer/status.h"

inline constexpr INT kCartridgesOk = 0;
inline constexpr INT kCartridgeMissing = 5;
inline constexpr INT kCartridgeInvalid = 6;

// kCartridgeInvalid for state 1, kCartridgeMissing for state 2, kCartridgesOk otherwise.
INT CheckCartridges(const StatusRecord* pStatus);
