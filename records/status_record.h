// The layout of the printer's 116-byte status record, as it arrives on the back channel. The port
// record keeps the newest one, so the layout lives beside the records; what the bytes mean is the
// status reader's (printer/status.h).
#pragma once

#include <cstddef>

#include "platform/win32.h"

constexpr DWORD kStatusRecordSize = 116;

// Byte-exact layout. Multi-byte counters are little-endian on the wire whatever the host, so they
// are kept as bytes and read through the accessors of printer/status.h.
struct StatusRecord {
  BYTE bStartChar;           // 0
  BYTE bNumMesgBytes;        // 1
  BYTE bReserved2;           // 2
  BYTE bRecordNumber;        // 3
  BYTE bReserved4[37];       // 4..40
  BYTE bCartType;            // 41
  BYTE bReserved42[4];       // 42..45
  BYTE bBusyChar;            // 46
  BYTE bReserved47[13];      // 47..59
  BYTE bErrorFlags;          // 60
  BYTE bReserved61[11];      // 61..71
  BYTE dwYellowSpitsLE[4];   // 72..75
  BYTE dwMagentaSpitsLE[4];  // 76..79
  BYTE dwCyanSpitsLE[4];     // 80..83
  BYTE bReserved84[11];      // 84..94
  BYTE bCartStatus;          // 95
  BYTE bReserved96;          // 96
  BYTE bNewCart;             // 97
  BYTE bReserved98[4];       // 98..101
  BYTE bAlignMarkA;          // 102
  BYTE bAlignMarkB;          // 103
  BYTE bReserved104[10];     // 104..113
  BYTE bChecksum;            // 114
  BYTE bEndChar;             // 115
};

static_assert(sizeof(StatusRecord) == kStatusRecordSize);
static_assert(offsetof(StatusRecord, bNumMesgBytes) == 1);
static_assert(offsetof(StatusRecord, bRecordNumber) == 3);
static_assert(offsetof(StatusRecord, bCartType) == 41);
static_assert(offsetof(StatusRecord, bBusyChar) == 46);
static_assert(offsetof(StatusRecord, bErrorFlags) == 60);
static_assert(offsetof(StatusRecord, dwYellowSpitsLE) == 72);
static_assert(offsetof(StatusRecord, dwMagentaSpitsLE) == 76);
static_assert(offsetof(StatusRecord, dwCyanSpitsLE) == 80);
static_assert(offsetof(StatusRecord, bCartStatus) == 95);
static_assert(offsetof(StatusRecord, bNewCart) == 97);
static_assert(offsetof(StatusRecord, bAlignMarkA) == 102);
static_assert(offsetof(StatusRecord, bAlignMarkB) == 103);
static_assert(offsetof(StatusRecord, bChecksum) == 114);
static_assert(offsetof(StatusRecord, bEndChar) == 115);
