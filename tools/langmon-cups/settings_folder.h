// Where a queue's settings and the monitor's log live: below the backend's state folder, in the
// same layout the monitor uses below Windows' common application-data folder,
// STATE/VMT/Drivers/<queue>/ with <queue>.ini, VM_lp250.ini, the log VelmoraLMDrv.dbg and the
// driver's alignment print files. The job makes them as lp (see privileges.h).
#pragma once

#include <string>

namespace langmon_cups {

// LANGMON_STATE_DIR (set for cupsd's jobs with SetEnv in cups-files.conf), else the folder the
// build was configured with.
std::string StateFolder();
// A name CUPS could have given a queue, and that names one folder: not empty, no slash, not
// "." or "..".
bool ValidQueueName(const std::string& queue);
std::string QueueFolder(const std::string& stateFolder, const std::string& queue);
// Makes the queue's folder and those above it below the state folder (modes as the process's
// umask leaves them: 0700 for the job); false with the reason.
bool MakeQueueFolder(const std::string& folder, std::string* why);

}  // namespace langmon_cups
