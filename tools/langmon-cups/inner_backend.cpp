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

// Descriptors 3 and 4 are cupsd's back and side channels; run by hand they may be closed, and
// the pipes made below must not take their numbers.
void HoldChannelNumbers() {
  for (int fd = 3; fd <= 4; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) {
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
      }
    }
  }
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

std::string ServerBin() {
  const char* serverBin = std::getenv("CUPS_SERVERBIN");
  return serverBin != nullptr && *serverBin != 0 ? serverBin : LANGMON_CUPS_SERVERBIN;
}

bool StartInner(const InnerDevice& device, const JobArguments& job, InnerProcess* process,
                std::string* why) {
  const std::string program = ServerBin() + "/backend/" + device.scheme;
  struct stat info {};
  if (stat(program.c_str(), &info) != 0) {
    *why = Errno(program.c_str());
    return false;
  }
  // cupsd's own rule: a backend that others may not run is run as root.
  uid_t uid = 0;
  gid_t gid = 0;
  bool dropPrivileges = false;
  if (geteuid() == 0 && (info.st_mode & S_IXOTH) != 0) {
    if (const passwd* user = getpwnam(kUnprivilegedUser)) {
      uid = user->pw_uid;
      gid = user->pw_gid;
      dropPrivileges = true;
    }
  }

  HoldChannelNumbers();
  int errPipe[2], backPipe[2], dataPipe[2] = {-1, -1}, side[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(backPipe, O_CLOEXEC) != 0 ||
      socketpair(AF_LOCAL, SOCK_STREAM | SOCK_CLOEXEC, 0, side) != 0) {
    *why = Errno("pipe");
    return false;
  }

  std::string printFile;
  int childInput = -1;
  if (device.kind == InnerKind::Socket) {
    // A FIFO as its print file makes the socket backend connect before any byte of the job.
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/langmon-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
      *why = Errno("mkdtemp");
      return false;
    }
    process->fifoFolder = folder;
    printFile = folder + "/job";
    if (mkfifo(printFile.c_str(), 0600) != 0) {
      *why = Errno("mkfifo");
      return false;
    }
    if (dropPrivileges) {
      (void)!chown(folder.c_str(), uid, gid);
      (void)!chown(printFile.c_str(), uid, gid);
    }
    // Opened for reading and writing, so that neither side waits for the other to open it.
    process->dataFd = open(printFile.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    childInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (process->dataFd < 0 || childInput < 0) {
      *why = Errno(printFile.c_str());
      return false;
    }
  } else {
    if (pipe2(dataPipe, O_CLOEXEC) != 0) {
      *why = Errno("pipe");
      return false;
    }
    childInput = dataPipe[0];
    process->dataFd = dataPipe[1];
    fcntl(process->dataFd, F_SETFL, O_NONBLOCK);
  }

  // Everything the child needs is made before fork: after it only async-signal-safe calls.
  std::vector<std::string> args = {job.printer, job.jobId, job.user, job.title, "1", job.options};
  if (!printFile.empty()) args.push_back(printFile);
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
    return false;
  }
  if (pid == 0) {
    dup2(childInput, 0);
    dup2(errPipe[1], 2);
    dup2(backPipe[1], 3);
    dup2(side[1], 4);
    for (int fd = 0; fd <= 4; ++fd) fcntl(fd, F_SETFD, 0);
    signal(SIGPIPE, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dropPrivileges && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) {
      _exit(4);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(4);
  }
  process->pid = pid;
  close(childInput);
  close(errPipe[1]);
  close(backPipe[1]);
  close(side[1]);
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

int WaitInner(InnerProcess* process, unsigned graceMs) {
  if (process->pid <= 0) return 0;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  int signalSent = 0;
  int status = 0;
  while (true) {
    const pid_t done = waitpid(process->pid, &status, graceMs == 0 ? 0 : WNOHANG);
    if (done == process->pid) break;
    if (done < 0 && errno != EINTR) return 0;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    if (graceMs != 0 && elapsed >= graceMs && signalSent == 0) {
      kill(process->pid, SIGTERM);
      signalSent = SIGTERM;
    } else if (graceMs != 0 && elapsed >= graceMs + 1000 && signalSent == SIGTERM) {
      kill(process->pid, SIGKILL);
      signalSent = SIGKILL;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
  if (!process->fifoFolder.empty()) {
    unlink((process->fifoFolder + "/job").c_str());
    rmdir(process->fifoFolder.c_str());
    process->fifoFolder.clear();
  }
}

}  // namespace langmon_cups
