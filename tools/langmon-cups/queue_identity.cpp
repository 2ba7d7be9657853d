#include "tools/langmon-cups/queue_identity.h"

#include <cups/cups.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace langmon_cups {

namespace {

constexpr char kUuidFile[] = "queue-uuid";
constexpr int kAskTimeoutMs = 5000;

}  // namespace

std::string AskQueueUuid(const std::string& queue) {
  http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                              kAskTimeoutMs, nullptr);
  if (http == nullptr) return "";
  char uri[1024];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", ippPort(),
                   "/printers/%s", queue.c_str());
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-uuid");
  ipp_t* response = cupsDoRequest(http, request, "/");
  std::string uuid;
  if (ipp_attribute_t* found = ippFindAttribute(response, "printer-uuid", IPP_TAG_URI)) {
    if (const char* text = ippGetString(found, 0, nullptr)) uuid = text;
  }
  ippDelete(response);
  httpClose(http);
  return uuid;
}

std::string ClaimQueueFolder(const std::string& folder, const std::string& uuid) {
  namespace fs = std::filesystem;
  if (uuid.empty()) return "";
  const std::string record = folder + "/" + kUuidFile;
  std::error_code error;
  if (fs::is_directory(fs::symlink_status(folder, error))) {
    std::ifstream in(record);
    std::string kept;
    std::getline(in, kept);
    if (!kept.empty() && kept != uuid) {
      const size_t dash = kept.rfind('-');
      const std::string aside =
          folder + ".replaced-" + (dash == std::string::npos ? kept : kept.substr(dash + 1));
      fs::remove_all(aside, error);
      fs::rename(folder, aside, error);
      if (error) return "";
      fs::create_directory(folder, error);
      std::ofstream(record) << uuid << "\n";
      return aside;
    }
    if (kept == uuid) return "";
  } else {
    fs::create_directories(folder, error);
  }
  std::ofstream(record) << uuid << "\n";
  return "";
}

}  // namespace langmon_cups
