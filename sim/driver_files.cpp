#include "sim/driver_files.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include "sim/sim_printer.h"

#ifndef _WIN32
#include "platform/host.h"
#endif

namespace sim {

std::vector<BYTE> AlignmentPrintBytes(char family, size_t bodyBytes) {
  const char* begin = family == 'K' ? kAlignBeginBlack : kAlignBeginColor;
  std::vector<BYTE> bytes(begin, begin + std::strlen(begin));
  // A printable pattern without '@', so no marker can appear inside it.
  static constexpr char kPattern[] = "ALIGNMENT PATTERN 0123456789 |||| ==== ";
  for (size_t i = 0; i < bodyBytes; ++i) {
    bytes.push_back(static_cast<BYTE>(kPattern[i % (sizeof(kPattern) - 1)]));
  }
  bytes.insert(bytes.end(), kAlignEnd, kAlignEnd + std::strlen(kAlignEnd));
  return bytes;
}

std::string WriteDriverFile(const std::string& folder, const std::string& name,
                            const std::vector<BYTE>& bytes) {
  std::filesystem::create_directories(folder);
  const std::string path = (std::filesystem::path(folder) / name).string();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

void WriteAlignmentFiles(const std::string& folder, size_t bodyBytes) {
  WriteDriverFile(folder, kAlignFileColor, AlignmentPrintBytes('C', bodyBytes));
  WriteDriverFile(folder, kAlignFileBlack, AlignmentPrintBytes('K', bodyBytes));
}

std::u16string DriverPathIn(const std::string& folder) {
  std::u16string path;
  for (char c : folder) {
    path.push_back(c == '/' ? u'\\' : static_cast<char16_t>(static_cast<unsigned char>(c)));
  }
  if (path.empty() || path.back() != u'\\') {
    path.push_back(u'\\');
  }
  for (const char* c = kDriverFileName; *c != '\0'; ++c) {
    path.push_back(static_cast<char16_t>(*c));
  }
  return path;
}

#ifndef _WIN32
void RegisterPrinter(const std::u16string& printerName, const std::string& driverFolder) {
  host::Printer printer;
  printer.name = printerName;
  printer.driverPath = DriverPathIn(driverFolder);
  host::AddPrinter(printer);
}
#endif

}  // namespace sim
