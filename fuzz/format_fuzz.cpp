// The stand-in wvsprintfA, and the log line built with it, on arbitrary format strings.
//
// The arguments cannot come from the input as such: a conversion reads whatever type it names.
// So every format runs twice: once with each argument a pointer to text (valid for every
// conversion, a string, a number or a character alike), and once with plain integers after its
// string conversions have been turned into numbers. No format has more conversions than there
// are arguments.
//
// Properties: the output stays inside its 1024 bytes and is terminated where the result says;
// a log line never exceeds its 512-byte buffer, keeps its prefix, and raw lines are the format's
// own text.
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>

#include "diag/log.h"
#include "fuzz/fuzz_host.h"

namespace {

constexpr size_t kArguments = 64;
constexpr size_t kOutputSize = 1024;

template <class T>
int Format(char* out, const char* format, const T (&a)[kArguments]) {
  return wsprintfA(out, format, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10],
                   a[11], a[12], a[13], a[14], a[15], a[16], a[17], a[18], a[19], a[20], a[21],
                   a[22], a[23], a[24], a[25], a[26], a[27], a[28], a[29], a[30], a[31], a[32],
                   a[33], a[34], a[35], a[36], a[37], a[38], a[39], a[40], a[41], a[42], a[43],
                   a[44], a[45], a[46], a[47], a[48], a[49], a[50], a[51], a[52], a[53], a[54],
                   a[55], a[56], a[57], a[58], a[59], a[60], a[61], a[62], a[63]);
}

template <class T>
void Log(int level, const char* format, const T (&a)[kArguments]) {
  LogMessage(level, format, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10],
             a[11], a[12], a[13], a[14], a[15], a[16], a[17], a[18], a[19], a[20], a[21], a[22],
             a[23], a[24], a[25], a[26], a[27], a[28], a[29], a[30], a[31], a[32], a[33], a[34],
             a[35], a[36], a[37], a[38], a[39], a[40], a[41], a[42], a[43], a[44], a[45], a[46],
             a[47], a[48], a[49], a[50], a[51], a[52], a[53], a[54], a[55], a[56], a[57], a[58],
             a[59], a[60], a[61], a[62], a[63]);
}

std::string gLine;

// The format from the input, cut before the conversion that would need one argument too many.
std::string FormatFromInput(FuzzedDataProvider& input) {
  std::string format = input.ConsumeRandomLengthString(2048);
  size_t percents = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && ++percents > kArguments) {
      format.resize(i);
      break;
    }
  }
  return format;
}

void CheckOutput(const char* out, int written) {
  FUZZ_CHECK(written >= 0 && static_cast<size_t>(written) < kOutputSize);
  FUZZ_CHECK(out[written] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  langmon_fuzz::StartRun();
  FuzzedDataProvider input(data, size);
  const std::string format = FormatFromInput(input);

  // Text that reads as a narrow and as a wide string, with its terminators on both counts.
  alignas(8) char text[3][80] = {};
  for (auto& piece : text) {
    const std::string bytes = input.ConsumeRandomLengthString(64);
    std::memcpy(piece, bytes.data(), bytes.size());
  }
  const void* pointers[kArguments];
  unsigned long long numbers[kArguments];
  for (size_t i = 0; i < kArguments; ++i) {
    pointers[i] = text[i % 3];
    numbers[i] = input.ConsumeIntegral<unsigned long long>();
  }
  std::string numeric = format;
  for (char& c : numeric) {
    if (c == 's' || c == 'S') {
      c = 'd';
    }
  }

  // Exactly the documented size, so that a byte past it is an overrun.
  const std::unique_ptr<char[]> out(new char[kOutputSize]);
  CheckOutput(out.get(), Format(out.get(), format.c_str(), pointers));
  CheckOutput(out.get(), Format(out.get(), numeric.c_str(), numbers));

  host::OnDebugOutput([](const std::string& line) { gLine = line; });
  gLine.assign("(nothing)");
  Log(LOG_WARNING, format.c_str(), pointers);
  FUZZ_CHECK(gLine.size() < kLogLineBufferSize);
  FUZZ_CHECK(gLine.rfind("VMT_LM_10[* WARNING *] ", 0) == 0);
  gLine.assign("(nothing)");
  Log(LOG_INFORM, numeric.c_str(), numbers);
  FUZZ_CHECK(gLine.size() < kLogLineBufferSize);
  gLine.assign("(nothing)");
  Log(-LOG_ERROR, format.c_str(), pointers);
  const std::string raw = format.substr(0, format.find('\0'));
  FUZZ_CHECK(gLine == raw.substr(0, kLogLineBufferSize - 1));
  host::OnDebugOutput(nullptr);
  langmon_fuzz::EndRun();
  return 0;
}
