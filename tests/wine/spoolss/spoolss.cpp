// A stand-in spoolss.dll for the Windows test host: the five spooler functions the monitor imports,
// over printers that the host registers, and a record of the job controls the monitor sends; the
// allocators for bidi answers that the monitor looks up at run time, with a count of the blocks
// not yet freed and of the frees of blocks they never handed out (or took back already); and the
// two functions by which a spooler in session 0 asks the job's owner, which the monitor also looks
// up at run time. Wine loads it from the host's folder instead of its builtin one when
// WINEDLLOVERRIDES has spoolss=n. Built a second time without the session functions in its exports,
// it is a spooler that cannot reach the job's owner.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "tests/wine/spoolss/control.h"

namespace {

constexpr DWORD kHandleMagic = 0x53504C48;  // "SPLH"

struct Printer {
  std::wstring name;
  std::wstring port;
  std::wstring driverPath;
};

struct PrinterHandle {
  DWORD magic;
  std::wstring name;  // as OpenPrinterW was given it
};

SRWLOCK lock = SRWLOCK_INIT;
std::vector<Printer> printers;
std::vector<PrinterHandle*> handles;
std::vector<StandInSetJobCall> setJobCalls;
std::vector<void*> bidiBlocks;
LONG badBidiFrees = 0;  // frees of blocks not handed out, or handed back already
DWORD jobSession = 1;
std::vector<StandInPromptCall> promptCalls;
DWORD ownersAnswer = 0;  // 0: the owner's boxes are shown on the display
StandInPromptHook promptHook = nullptr;

class Locked {
 public:
  Locked() { AcquireSRWLockExclusive(&lock); }
  ~Locked() { ReleaseSRWLockExclusive(&lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

const Printer* FindPrinterLocked(LPCWSTR name) {
  for (const Printer& printer : printers) {
    if (lstrcmpiW(printer.name.c_str(), name) == 0) {
      return &printer;
    }
  }
  return nullptr;
}

// The open handle, or null with ERROR_INVALID_HANDLE.
PrinterHandle* HandleLocked(HANDLE hPrinter) {
  auto it = std::find(handles.begin(), handles.end(), static_cast<PrinterHandle*>(hPrinter));
  if (it == handles.end() || (*it)->magic != kHandleMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return *it;
}

// Lays out a level-2 structure followed by its strings, as the spooler returns them: the strings
// live in the caller's buffer behind the structure.
class InfoWriter {
 public:
  InfoWriter(DWORD fixedSize, const std::vector<const std::wstring*>& strings)
      : fixedSize_(fixedSize) {
    needed_ = fixedSize;
    for (const std::wstring* text : strings) {
      needed_ += static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
    }
  }
  DWORD Needed() const { return needed_; }

  // Copies the text behind what was placed so far; returns where it now lives.
  LPWSTR Place(LPBYTE buffer, const std::wstring& text) {
    auto target = reinterpret_cast<LPWSTR>(buffer + fixedSize_ + used_);
    std::copy(text.begin(), text.end(), target);
    target[text.size()] = L'\0';
    used_ += static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return target;
  }

 private:
  DWORD fixedSize_;
  DWORD needed_;
  DWORD used_ = 0;
};

// The size check every Get* function makes: FALSE with ERROR_INSUFFICIENT_BUFFER when the
// caller's buffer cannot take `needed` bytes.
BOOL Fits(DWORD needed, LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded) {
  if (pcbNeeded == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *pcbNeeded = needed;
  if (buffer == nullptr || cbBuf < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return TRUE;
}

// Copies up to `capacity` entries of a record, oldest first; returns how many it holds.
template <class Entry>
DWORD CopyRecord(const std::vector<Entry>& record, Entry* copy, DWORD capacity) {
  const DWORD count = static_cast<DWORD>(record.size());
  for (DWORD i = 0; copy != nullptr && i < count && i < capacity; ++i) {
    copy[i] = record[i];
  }
  return count;
}

std::wstring DriverName() { return L"Label A Driver"; }

std::wstring Environment() {
#ifdef _WIN64
  return L"Windows x64";
#else
  return L"Windows NT x86";
#endif
}

// What a call that does not wait for the answer hands back.
constexpr DWORD kAsyncResponse = 32001;  // IDASYNC

// A box for the job's owner, owned by the thread that shows it.
struct OwnersBox {
  std::wstring caption;
  std::wstring text;
  UINT style;
  DWORD timeoutSeconds;
};

BOOL CALLBACK EndBoxOfThread(HWND window, LPARAM ended) {
  wchar_t className[8];
  if (GetClassNameW(window, className, 8) > 0 && lstrcmpW(className, L"#32770") == 0) {
    EndDialog(window, IDTIMEOUT);
    *reinterpret_cast<bool*>(ended) = true;
  }
  return TRUE;
}

// Closes the box of this thread as unanswered. Wine's MessageBoxTimeoutW ignores its time-out,
// so the box's own message loop runs this timer instead.
void CALLBACK EndUnansweredBox(HWND, UINT, UINT_PTR timer, DWORD) {
  bool ended = false;
  EnumThreadWindows(GetCurrentThreadId(), EndBoxOfThread, reinterpret_cast<LPARAM>(&ended));
  if (ended) {
    KillTimer(nullptr, timer);
  }  // else the box is not up yet: the next tick ends it
}

// The owner's session is another process on Windows: a thread of its own keeps the box apart
// from the monitor's windows and lets a call that does not wait return at once. Its exit code is
// the answer.
DWORD WINAPI ShowOwnersBox(void* parameter) {
  const std::unique_ptr<OwnersBox> box(static_cast<OwnersBox*>(parameter));
  if (box->timeoutSeconds != 0) {
    SetTimer(nullptr, 0, box->timeoutSeconds * 1000, EndUnansweredBox);
  }
  return static_cast<DWORD>(
      MessageBoxW(nullptr, box->text.c_str(), box->caption.c_str(), box->style));
}

}  // namespace

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW) {
  if (phPrinter == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Locked locked;
  if (pPrinterName == nullptr || FindPrinterLocked(pPrinterName) == nullptr) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  auto* handle = new PrinterHandle{kHandleMagic, pPrinterName};
  handles.push_back(handle);
  *phPrinter = handle;
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
  Locked locked;
  PrinterHandle* handle = HandleLocked(hPrinter);
  if (handle == nullptr) {
    return FALSE;
  }
  std::erase(handles, handle);
  handle->magic = 0;
  delete handle;
  return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf,
                        LPDWORD pcbNeeded) {
  Locked locked;
  PrinterHandle* handle = HandleLocked(hPrinter);
  if (handle == nullptr) {
    return FALSE;
  }
  if (Level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  const Printer* printer = FindPrinterLocked(handle->name.c_str());
  if (printer == nullptr) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);  // removed since it was opened
    return FALSE;
  }
  const std::wstring driverName = DriverName();
  InfoWriter writer(sizeof(PRINTER_INFO_2W), {&printer->name, &printer->port, &driverName});
  if (!Fits(writer.Needed(), pPrinter, cbBuf, pcbNeeded)) {
    return FALSE;
  }
  PRINTER_INFO_2W info{};
  info.pPrinterName = writer.Place(pPrinter, printer->name);
  info.pPortName = writer.Place(pPrinter, printer->port);
  info.pDriverName = writer.Place(pPrinter, driverName);
  info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  *reinterpret_cast<PRINTER_INFO_2W*>(pPrinter) = info;
  return TRUE;
}

BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                              LPDWORD pcbNeeded) {
  Locked locked;
  PrinterHandle* handle = HandleLocked(hPrinter);
  if (handle == nullptr) {
    return FALSE;
  }
  if (Level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  const Printer* printer = FindPrinterLocked(handle->name.c_str());
  if (printer == nullptr) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  const std::wstring driverName = DriverName();
  const std::wstring environment = Environment();
  // The driver's UI and data files are of no concern to the monitor: the driver file stands in.
  InfoWriter writer(sizeof(DRIVER_INFO_2W), {&driverName, &environment, &printer->driverPath,
                                             &printer->driverPath, &printer->driverPath});
  if (!Fits(writer.Needed(), pDriverInfo, cbBuf, pcbNeeded)) {
    return FALSE;
  }
  DRIVER_INFO_2W info{};
  info.cVersion = 3;
  info.pName = writer.Place(pDriverInfo, driverName);
  info.pEnvironment = writer.Place(pDriverInfo, environment);
  info.pDriverPath = writer.Place(pDriverInfo, printer->driverPath);
  info.pDataFile = writer.Place(pDriverInfo, printer->driverPath);
  info.pConfigFile = writer.Place(pDriverInfo, printer->driverPath);
  *reinterpret_cast<DRIVER_INFO_2W*>(pDriverInfo) = info;
  return TRUE;
}

BOOL WINAPI SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command) {
  Locked locked;
  PrinterHandle* handle = HandleLocked(hPrinter);
  if (handle == nullptr) {
    return FALSE;
  }
  StandInSetJobCall call{};
  lstrcpynW(call.printerName, handle->name.c_str(), static_cast<int>(std::size(call.printerName)));
  call.jobId = JobId;
  call.level = Level;
  call.jobData = pJob != nullptr;
  call.command = Command;
  setJobCalls.push_back(call);
  return TRUE;
}

// ---- Bidi answers: what newer spoolers export for the monitors' answers ----------------------

PVOID WINAPI RouterAllocBidiMem(size_t NumBytes) {
  void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, NumBytes == 0 ? 1 : NumBytes);
  if (block != nullptr) {
    Locked locked;
    bidiBlocks.push_back(block);
  }
  return block;
}

PBIDI_RESPONSE_CONTAINER WINAPI RouterAllocBidiResponseContainer(DWORD Count) {
  const size_t size = offsetof(BIDI_RESPONSE_CONTAINER, aData) +
                      (Count == 0 ? 1 : static_cast<size_t>(Count)) * sizeof(BIDI_RESPONSE_DATA);
  auto* container = static_cast<PBIDI_RESPONSE_CONTAINER>(RouterAllocBidiMem(size));
  if (container != nullptr) {
    container->Version = 1;
    container->Count = Count;
  }
  return container;
}

VOID WINAPI RouterFreeBidiMem(PVOID pMemPointer) {
  if (pMemPointer == nullptr) {
    return;
  }
  {
    Locked locked;
    auto it = std::find(bidiBlocks.begin(), bidiBlocks.end(), pMemPointer);
    if (it == bidiBlocks.end()) {
      ++badBidiFrees;  // not ours, or freed already: noticed, not performed
      return;
    }
    bidiBlocks.erase(it);
  }
  HeapFree(GetProcessHeap(), 0, pMemPointer);
}

DWORD WINAPI RouterFreeBidiResponseContainer(PBIDI_RESPONSE_CONTAINER pData) {
  if (pData == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  for (DWORD i = 0; i < pData->Count; ++i) {
    BIDI_RESPONSE_DATA& response = pData->aData[i];
    RouterFreeBidiMem(response.pSchema);
    const DWORD type = response.data.dwBidiType;
    if (type == BIDI_STRING || type == BIDI_TEXT || type == BIDI_ENUM) {
      RouterFreeBidiMem(response.data.u.sData);
    } else if (type == BIDI_BLOB) {
      RouterFreeBidiMem(response.data.u.biData.pData);
    }
  }
  RouterFreeBidiMem(pData);
  return ERROR_SUCCESS;
}

// ---- Questions in the session of the job's owner, as a spooler in session 0 asks them ---------

DWORD WINAPI SplIsSessionZero(HANDLE hPrinter, DWORD, BOOL* pIsSessionZero) {
  if (pIsSessionZero == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  Locked locked;
  if (HandleLocked(hPrinter) == nullptr) {
    return ERROR_INVALID_HANDLE;
  }
  *pIsSessionZero = jobSession == 0;
  return ERROR_SUCCESS;
}

BOOL WINAPI SplPromptUIInUsersSession(HANDLE hPrinter, DWORD JobId, PSHOWUIPARAMS pUIParams,
                                      DWORD* pResponse) {
  if (pUIParams == nullptr || pResponse == nullptr || pUIParams->UIType != kMessageBox ||
      pUIParams->MessageBoxParams.cbSize != sizeof(MESSAGEBOX_PARAMS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  {
    Locked locked;
    if (HandleLocked(hPrinter) == nullptr) {
      return FALSE;
    }
  }
  const MESSAGEBOX_PARAMS& params = pUIParams->MessageBoxParams;
  StandInPromptHook hook;
  {
    Locked locked;
    hook = promptHook;
  }
  const DWORD hookAnswer =
      hook != nullptr ? hook(params.pMessage != nullptr ? params.pMessage : L"") : 0;
  if (hookAnswer != 0) {
    StandInPromptCall call{};
    call.jobId = JobId;
    call.style = params.Style;
    call.timeoutSeconds = params.dwTimeout;
    call.wait = params.bWait;
    call.response = hookAnswer;
    Locked locked;
    promptCalls.push_back(call);
    *pResponse = hookAnswer;
    return TRUE;
  }
  auto* box = new OwnersBox{params.pTitle != nullptr ? params.pTitle : L"",
                            params.pMessage != nullptr ? params.pMessage : L"", params.Style,
                            params.dwTimeout};
  StandInPromptCall call{};
  call.jobId = JobId;
  lstrcpynW(call.caption, box->caption.c_str(), static_cast<int>(std::size(call.caption)));
  lstrcpynW(call.text, box->text.c_str(), static_cast<int>(std::size(call.text)));
  call.style = params.Style;
  call.timeoutSeconds = params.dwTimeout;
  call.wait = params.bWait;

  DWORD scripted = 0;
  {
    Locked locked;
    scripted = ownersAnswer;
  }
  if (scripted != 0) {
    delete box;
    call.response = params.bWait ? scripted : kAsyncResponse;
    Locked locked;
    promptCalls.push_back(call);
    *pResponse = call.response;
    return TRUE;
  }
  HANDLE thread = CreateThread(nullptr, 0, ShowOwnersBox, box, 0, nullptr);
  if (thread == nullptr) {
    delete box;
    return FALSE;
  }
  call.response = kAsyncResponse;
  if (params.bWait) {
    WaitForSingleObject(thread, INFINITE);
    GetExitCodeThread(thread, &call.response);
  }
  CloseHandle(thread);
  {
    Locked locked;
    promptCalls.push_back(call);
  }
  *pResponse = call.response;
  return TRUE;
}

// ---- The host's entries (tests/wine/spoolss/control.h) ------------------------------------------

void WINAPI StandInReset() {
  Locked locked;
  printers.clear();
  setJobCalls.clear();
  promptCalls.clear();
  promptHook = nullptr;
  jobSession = 1;
  ownersAnswer = 0;
}

void WINAPI StandInAnswerOwners(DWORD answer) {
  Locked locked;
  ownersAnswer = answer;
}

void WINAPI StandInSetPromptHook(StandInPromptHook hook) {
  Locked locked;
  promptHook = hook;
}

BOOL WINAPI StandInAddPrinter(LPCWSTR printerName, LPCWSTR portName, LPCWSTR driverPath) {
  if (printerName == nullptr || portName == nullptr || driverPath == nullptr) {
    return FALSE;
  }
  Locked locked;
  std::erase_if(printers,
                [&](const Printer& p) { return lstrcmpiW(p.name.c_str(), printerName) == 0; });
  printers.push_back({printerName, portName, driverPath});
  return TRUE;
}

DWORD WINAPI StandInSetJobCalls(StandInSetJobCall* calls, DWORD capacity) {
  Locked locked;
  return CopyRecord(setJobCalls, calls, capacity);
}

void WINAPI StandInSetJobSession(DWORD sessionId) {
  Locked locked;
  jobSession = sessionId;
}

DWORD WINAPI StandInPromptCalls(StandInPromptCall* calls, DWORD capacity) {
  Locked locked;
  return CopyRecord(promptCalls, calls, capacity);
}

LONG WINAPI StandInOpenHandles() {
  Locked locked;
  return static_cast<LONG>(handles.size());
}

LONG WINAPI StandInLiveBidiBlocks() {
  Locked locked;
  return static_cast<LONG>(bidiBlocks.size());
}

LONG WINAPI StandInBadBidiFrees() {
  Locked locked;
  return badBidiFrees;
}

}  // extern "C"
