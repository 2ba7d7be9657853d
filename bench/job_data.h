// Job data for the write-path benchmarks, the same bytes natively and in the Windows bench host:
// a fixed generator (not the standard library's distributions, whose output may differ between
// builds) and three kinds of data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

constexpr uint8_t kEscape = 0x1B;

enum class DataKind {
  kNoEscape,  // print data without a single escape byte
  kRandom,    // uniformly random bytes: one escape in 256
  kDense,     // command data: an escape every 8 to 16 bytes, none of them a job header
};

constexpr DataKind kDataKinds[] = {DataKind::kNoEscape, DataKind::kRandom, DataKind::kDense};
constexpr size_t kWriteSizes[] = {64 * 1024, 1024 * 1024};

// Writes of one size are taken in turn from this many different buffers (1 MiB in all), so that
// a branch predictor cannot learn where the escapes of one small buffer lie, as it could if the
// same 64 KiB came again and again; a spooler's writes are never the same data twice either.
constexpr size_t BuffersFor(size_t size) { return size >= 1024 * 1024 ? 1 : 1024 * 1024 / size; }

inline const char* DataKindName(DataKind kind) {
  switch (kind) {
    case DataKind::kNoEscape:
      return "no-escape";
    case DataKind::kRandom:
      return "random";
    case DataKind::kDense:
      return "dense";
  }
  return "?";
}

// splitmix64: small, fast, and the same sequence everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint8_t Byte() { return static_cast<uint8_t>(Next() >> 56); }
  // A byte that is neither of the two given.
  uint8_t ByteExcept(uint8_t a, uint8_t b) {
    for (;;) {
      const uint8_t value = Byte();
      if (value != a && value != b) {
        return value;
      }
    }
  }

 private:
  uint64_t state_;
};

inline std::vector<uint8_t> MakeJobData(DataKind kind, size_t size, unsigned variant = 0) {
  Random random(0x5EED0000u + static_cast<uint64_t>(kind) * 7919u + size * 31u + variant);
  std::vector<uint8_t> data(size);
  switch (kind) {
    case DataKind::kNoEscape:
      for (uint8_t& byte : data) {
        byte = random.ByteExcept(kEscape, kEscape);
      }
      break;
    case DataKind::kRandom:
      for (size_t i = 0; i < size; ++i) {
        data[i] = random.Byte();
        // The second byte of a job header never follows an escape here, so no write is cut
        // by a header the generator made by chance.
        if (i > 0 && data[i - 1] == kEscape && data[i] == 0x2A) {
          data[i] = 0x2B;
        }
      }
      break;
    case DataKind::kDense: {
      size_t next = 0;
      for (size_t i = 0; i < size; ++i) {
        if (i == next) {
          data[i] = kEscape;
          next = i + 8 + static_cast<size_t>(random.Next() % 9);
        } else if (i > 0 && data[i - 1] == kEscape) {
          data[i] = random.ByteExcept(kEscape, 0x2A);  // the command letter
        } else {
          data[i] = random.ByteExcept(kEscape, kEscape);
        }
      }
      break;
    }
  }
  return data;
}

inline std::vector<std::vector<uint8_t>> MakeJobBuffers(DataKind kind, size_t size) {
  std::vector<std::vector<uint8_t>> buffers;
  for (unsigned variant = 0; variant < BuffersFor(size); ++variant) {
    buffers.push_back(MakeJobData(kind, size, variant));
  }
  return buffers;
}

}  // namespace bench
