// The printer's 116-byte status record, as it arrives on the back channel.
#pragma once

#include "records/status_record.h"

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
