#include "tests/cups/private_cups.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace cups_test {

namespace fs = std::filesystem;

namespace {

constexpr char kCupsd[] = "/usr/sbin/cupsd";
constexpr char kCupsPrograms[] = "/usr/lib/cups";
constexpr const char* kCopiedPrograms[] = {"daemon/cups-exec", "backend/socket"};

int FreeLoopbackPort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  return ntohs(address.sin_port);
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

PrivateCups::PrivateCups(std::string folder, std::string backend)
    : folder_(std::move(folder)), backend_(std::move(backend)) {}

PrivateCups::~PrivateCups() { Stop(); }

std::string PrivateCups::Server() const { return "127.0.0.1:" + std::to_string(port_); }

std::string PrivateCups::ErrorLog() const { return ReadFile(folder_ + "/log/error_log"); }

bool PrivateCups::Start(std::string* why) {
  if (access(kCupsd, X_OK) != 0) {
    *why = std::string(kCupsd) + " is not installed (Debian's cups package)";
    return false;
  }
  if (geteuid() != 0) {
    *why = "cupsd runs a backend of mode 0700 only as root, and these tests are not run as root";
    return false;
  }
  std::error_code error;
  fs::remove_all(folder_, error);
  for (const char* sub :
       {"conf", "spool/tmp", "cache", "state", "log", "bin/backend", "bin/daemon", "bin/filter"}) {
    fs::create_directories(folder_ + "/" + sub);
  }
  // A program folder of its own, with copies of only what these tests run: cupsd's helper that
  // starts every filter and backend, the socket backend, and ours as installed (a file's mode
  // and owner decide how cupsd runs it). Copied into folders made anew, so nothing is written
  // through a link into the machine's CUPS, whatever it has installed.
  for (const char* program : kCopiedPrograms) {
    fs::copy_file(std::string(kCupsPrograms) + "/" + program, folder_ + "/bin/" + program,
                  fs::copy_options::none, error);
    if (error) {
      *why = std::string(kCupsPrograms) + "/" + program + ": " + error.message();
      return false;
    }
  }
  fs::copy_file(backend_, folder_ + "/bin/backend/langmon", fs::copy_options::none, error);
  if (error) {
    *why = backend_ + ": " + error.message();
    return false;
  }
  // Raw queues need the raw types of the server's own ServerRoot.
  for (const char* types : {"raw.types", "raw.convs"}) {
    fs::copy_file(std::string("/etc/cups/") + types, folder_ + "/conf/" + types, error);
  }

  port_ = FreeLoopbackPort();
  WriteFile(folder_ + "/conf/cupsd.conf",
            "Listen 127.0.0.1:" + std::to_string(port_) +
                "\n"
                "LogLevel debug\n"
                "MaxLogSize 0\n"
                "Browsing Off\n"
                "DefaultPolicy open\n"
                "<Location />\nOrder allow,deny\nAllow 127.0.0.1\n</Location>\n"
                "<Policy open>\n<Limit All>\nOrder deny,allow\n</Limit>\n</Policy>\n");
  const std::string& f = folder_;
  WriteFile(f + "/conf/cups-files.conf",
            "ServerBin " + f + "/bin\nServerRoot " + f + "/conf\nStateDir " + f +
                "/state\nCacheDir " + f + "/cache\nRequestRoot " + f + "/spool\nTempDir " + f +
                "/spool/tmp\nErrorLog " + f + "/log/error_log\nAccessLog " + f +
                "/log/access_log\nPageLog " + f +
                "/log/page_log\nDataDir /usr/share/cups\nDocumentRoot /usr/share/cups/doc-root\n"
                "SetEnv LANGMON_STATE_DIR " +
                StateFolder() + "\n");

  const std::string conf = f + "/conf/cupsd.conf";
  const std::string files = f + "/conf/cups-files.conf";
  const std::string out = f + "/log/cupsd.out";
  pid_ = fork();
  if (pid_ == 0) {
    freopen(out.c_str(), "w", stdout);
    freopen(out.c_str(), "a", stderr);
    execl(kCupsd, kCupsd, "-f", "-c", conf.c_str(), "-s", files.c_str(), nullptr);
    _exit(127);
  }
  // Ready once it answers.
  for (int i = 0; i < 100; ++i) {
    if (Run("lpstat -r").output.find("is running") != std::string::npos) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      *why = "cupsd ended at once: " + ReadFile(out) + ErrorLog();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  *why = "cupsd did not answer within 10 s";
  Stop();
  return false;
}

void PrivateCups::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (waitpid(pid_, &status, WNOHANG) == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

CommandResult PrivateCups::Run(const std::string& command) const {
  CommandResult result;
  const std::string line = "CUPS_SERVER=" + Server() + " " + command + " 2>&1";
  FILE* pipe = popen(line.c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer;
  size_t got;
  while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
    result.output.append(buffer.data(), got);
  }
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace cups_test
