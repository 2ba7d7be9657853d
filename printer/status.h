// The printer's 116-byte status record, as it arrives on the back channel.
#pragma once

#include <cstddef>

#include "platform/win32.h"

constexpr DWORD kStatusRecordSize = 116;
constexpr BYTE kStatusStartChar = 0x01;
constexpr BYTE kStatusEndChar = 0x04;
constexpr BYTE kStatusBusyChar = 'B';

// Bits of bErrorFlags.
constexpr BYTE STATUS_ERROR_OUT_OF_STOCK = 0x01;
constexpr BYTE STATUS_ERROR_CARTRIDGE_EMPTY = 0x02;
constexpr BYTE STATUS_ERROR_TOF_SENSOR = 0x04;

// High nibble of bCartStatus.
constexpr BYTE CART_STATE_INVALID = 0x1;
constexpr BYTE CART_STATE_MISSING = 0x2;
constexpr BYTE CART_STATE_CHECK_ALIGN_MARKS = 0x5;

constexpr BYTE kPigmentBlackCartType = 0x30;
constexpr BYTE kAlignMarkInvalid = 0x28;

// Byte-exact layout. Multi-byte counters are little-endian on the wire whatever the host, so they
// are kept as bytes and read through the accessors below.
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

inline DWORD ReadLittleEndian32(const BYTE* bytes) {
  return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
         static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

inline void WriteLittleEndian32(BYTE* bytes, DWORD value) {
  bytes[0] = static_cast<BYTE>(value);
  bytes[1] = static_cast<BYTE>(value >> 8);
  bytes[2] = static_cast<BYTE>(value >> 16);
  bytes[3] = static_cast<BYTE>(value >> 24);
}

inline DWORD YellowSpits(const StatusRecord& record) {
  return ReadLittleEndian32(record.dwYellowSpitsLE);
}
inline DWORD MagentaSpits(const StatusRecord& record) {
  return ReadLittleEndian32(record.dwMagentaSpitsLE);
}
inline DWORD CyanSpits(const StatusRecord& record) {
  return ReadLittleEndian32(record.dwCyanSpitsLE);
}

// '0'..'?' (high nibble 3) is the black family; everything else is a colour cartridge.
inline bool IsBlackFamily(DWORD cartType) { return (cartType & ~0xFu) == 0x30u; }
inline BYTE CartState(const StatusRecord& record) {
  return static_cast<BYTE>(record.bCartStatus >> 4);
}

// Sum of the bytes at offsets 1 to bNumMesgBytes - 1 (the count byte itself included), modulo
// 256; 0 when the count is below 2. The sum never reaches past the record, whatever the count.
inline BYTE StatusChecksum(const StatusRecord& record) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&record);
  const DWORD end =
      record.bNumMesgBytes < kStatusRecordSize ? record.bNumMesgBytes : kStatusRecordSize;
  BYTE sum = 0;
  for (DWORD i = 1; i < end; ++i) {
    sum = static_cast<BYTE>(sum + bytes[i]);
  }
  return sum;
}
