#include "tools/langmon-cups/privileges.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace langmon_cups {

namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string ParentOf(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool PrepareStateFolder(const std::string& folder, const RunAs& account, std::string* why) {
  if (folder.empty() || folder[0] != '/') {
    *why = "the state folder \"" + folder + "\" is not an absolute path";
    return false;
  }
  const std::string parent = ParentOf(folder);
  struct stat parentInfo {};
  if (stat(parent.c_str(), &parentInfo) != 0) {
    *why = Errno(parent);
    return false;
  }
  if (parentInfo.st_uid != 0 || (parentInfo.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    *why = parent + " (the state folder's parent) must be root's and writable by root alone";
    return false;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    *why = Errno(folder);
    return false;
  }
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *why = Errno(folder) + " (a folder is needed, not a link)";
    return false;
  }
  struct stat info {};
  bool ok = fstat(fd, &info) == 0;
  if (ok && (info.st_uid != account.uid || info.st_gid != account.gid)) {
    ok = fchown(fd, account.uid, account.gid) == 0;
  }
  if (ok && (info.st_mode & 07777) != 0700) ok = fchmod(fd, 0700) == 0;
  if (!ok) *why = Errno(folder);
  close(fd);
  return ok;
}

bool DropPrivileges(const RunAs& account, std::string* why) {
  if (setgroups(0, nullptr) != 0 || setgid(account.gid) != 0 || setuid(account.uid) != 0) {
    *why = Errno("giving up root");
    return false;
  }
  if (account.uid != 0 && (setuid(0) == 0 || seteuid(0) == 0)) {
    *why = "root could be had back after giving it up";
    return false;
  }
  if (getuid() != account.uid || geteuid() != account.uid || getgid() != account.gid ||
      getegid() != account.gid) {
    *why = "giving up root left another identity";
    return false;
  }
  return true;
}

}  // namespace langmon_cups
