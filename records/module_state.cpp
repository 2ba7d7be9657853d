// The module-wide state: the one lock, the list of open ports, the module handle and the two
// flags that belong to no port.
#include "records/records.h"

CRITICAL_SECTION SpoolerSection;
IniPort* pIniFirstPort = nullptr;
HINSTANCE hInst = nullptr;
std::atomic<BOOL> fWarnedOnFailedStart{FALSE};
std::atomic<BOOL> fShowUI{TRUE};

void EnterMonitorLock() { EnterCriticalSection(&SpoolerSection); }

void LeaveMonitorLock() { LeaveCriticalSection(&SpoolerSection); }
