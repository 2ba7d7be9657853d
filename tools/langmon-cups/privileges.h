// Root is kept only to start the inner backend as cupsd would (usb as root) and to end it: the
// job itself, which reads what the printer sends and writes the queue's settings, runs as the
// unprivileged account, with no way back.
#pragma once

#include <string>

#include "tools/langmon-cups/inner_backend.h"

namespace langmon_cups {

// As root, before the job: the state folder exists, is a folder (not a link) and belongs to
// `account`, mode 0700. Its parent must be writable by root alone, since root makes the folder
// by its path; nothing below it is ever touched by root. False with the reason.
bool PrepareStateFolder(const std::string& folder, const RunAs& account, std::string* why);

// Gives up root for good: supplementary groups, group, user; checked, and checked that root
// cannot be had back. False with the reason (the caller must then end).
bool DropPrivileges(const RunAs& account, std::string* why);

}  // namespace langmon_cups
