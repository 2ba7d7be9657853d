#include "tools/langmon-cups/inner_backend.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

extern char** environ;

namespace langmon_cups {

namespace {

constexpr char kUnprivilegedUser[] = "lp";
// socket reads a print file as it comes and connects before its first byte; reading standard
// input it would connect only once data arrives, with no status to read before it.
constexpr char kPrintFileOnStandardInput[] = "/dev/fd/0";
constexpr unsigned kKillGraceMs = 1000;

// Descriptors 3 and 4 are cupsd's back and side channels; run by hand they may be closed, and
// the pipes made below must not take their numbers.
void HoldChannelNumbers() {
  for (int fd = 3; fd <= 4; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) {
      const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
      if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
      }
    }
  }
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

void CloseBoth(int fds[2]) {
  for (int i = 0; i < 2; ++i) {
    if (fds[i] >= 0) close(fds[i]);
    fds[i] = -1;
  }
}

}  // namespace

std::string ServerBin() {
  const char* serverBin = std::getenv("CUPS_SERVERBIN");
  return serverBin != nullptr && *serverBin != 0 ? serverBin : LANGMON_CUPS_SERVERBIN;
}

bool UnprivilegedAccount(RunAs* account, std::string* why) {
  const passwd* user = getpwnam(kUnprivilegedUser);
  if (user == nullptr) {
    *why = std::string("no user \"") + kUnprivilegedUser + "\" to run the job as";
    return false;
  }
  account->uid = user->pw_uid;
  account->gid = user->pw_gid;
  return true;
}

bool StartInner(const InnerDevice& device, const JobArguments& job, const RunAs& account,
                InnerProcess* process, std::string* why) {
  const std::string program = ServerBin() + "/backend/" + device.scheme;
  struct stat info {};
  if (stat(program.c_str(), &info) != 0) {
    *why = Errno(program.c_str());
    return false;
  }
  // cupsd's own rule: a backend that others may not run is run as root.
  const bool dropPrivileges = geteuid() == 0 && (info.st_mode & S_IXOTH) != 0;

  HoldChannelNumbers();
  int errPipe[2] = {-1, -1}, backPipe[2] = {-1, -1}, dataPipe[2] = {-1, -1}, side[2] = {-1, -1};
  if (pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(backPipe, O_CLOEXEC) != 0 ||
      pipe2(dataPipe, O_CLOEXEC) != 0 ||
      socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0, side) != 0) {
    *why = Errno("pipe");
    for (int* fds : {errPipe, backPipe, dataPipe, side}) CloseBoth(fds);
    return false;
  }
  fcntl(dataPipe[1], F_SETFL, O_NONBLOCK);
  // socket opens its print file, /dev/fd/0, anew: the pipe must be its user's to open.
  if (dropPrivileges && fchown(dataPipe[0], account.uid, account.gid) != 0) {
    *why = Errno("fchown");
    for (int* fds : {errPipe, backPipe, dataPipe, side}) CloseBoth(fds);
    return false;
  }

  // Everything the child needs is made before fork: after it only async-signal-safe calls.
  std::vector<std::string> args = {job.printer, job.jobId, job.user, job.title, "1", job.options};
  if (device.kind == InnerKind::Socket) args.push_back(kPrintFileOnStandardInput);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "DEVICE_URI=", 11) != 0) env.emplace_back(*entry);
  }
  env.push_back("DEVICE_URI=" + device.uri);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) {
    *why = Errno("fork");
    for (int* fds : {errPipe, backPipe, dataPipe, side}) CloseBoth(fds);
    return false;
  }
  if (pid == 0) {
    dup2(dataPipe[0], 0);
    dup2(errPipe[1], 2);
    dup2(backPipe[1], 3);
    dup2(side[1], 4);
    for (int fd = 0; fd <= 4; ++fd) fcntl(fd, F_SETFD, 0);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dropPrivileges &&
        (setgroups(0, nullptr) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0)) {
      _exit(4);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(4);
  }
  process->pid = pid;
  close(dataPipe[0]);
  close(errPipe[1]);
  close(backPipe[1]);
  close(side[1]);
  process->dataFd = dataPipe[1];
  process->stderrFd = errPipe[0];
  process->backChannelFd = backPipe[0];
  process->sideChannelFd = side[0];
  return true;
}

void CloseInnerData(InnerProcess* process) {
  if (process->dataFd >= 0) {
    close(process->dataFd);
    process->dataFd = -1;
  }
}

int ReapInner(InnerProcess* process, unsigned boundMs, bool* outlived) {
  *outlived = false;
  if (process->pid <= 0) return 0;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  int signalSent = 0;
  int status = 0;
  while (true) {
    const pid_t done = waitpid(process->pid, &status, WNOHANG);
    if (done == process->pid) break;
    if (done < 0 && errno != EINTR) {
      process->pid = -1;
      return 0;
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (elapsed >= boundMs && signalSent == 0) {
      // Only this process reaps the child, so its pid is still the child's.
      kill(process->pid, SIGTERM);
      signalSent = SIGTERM;
      *outlived = true;
    } else if (elapsed >= boundMs + kKillGraceMs && signalSent == SIGTERM) {
      kill(process->pid, SIGKILL);
      signalSent = SIGKILL;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  process->pid = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void ReleaseInner(InnerProcess* process) {
  CloseInnerData(process);
  for (int* fd : {&process->backChannelFd, &process->stderrFd, &process->sideChannelFd}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

}  // namespace langmon_cups
