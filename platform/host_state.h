// Shared internals of the native stand-ins: text helpers, the handle table, observers and the
// reset hooks that host::Reset calls. Only platform/*.cpp includes this header.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "platform/host.h"
#include "platform/win32.h"

namespace platform_impl {

// ---- Text ----------------------------------------------------------------------------------
// UTF-16 <-> UTF-8; unpaired surrogates and invalid bytes become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
// A NUL-terminated wide string as a view; NULL gives an empty view.
std::u16string_view WideView(const WCHAR* text);
// Simple case folding to lower case: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
char16_t FoldCase(char16_t c);
std::u16string FoldString(std::u16string_view text);
// <0, 0, >0 comparing the folded code units.
int CompareNoCase(std::u16string_view a, std::u16string_view b);
inline bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}
// The native path of a Windows path, as host::NativePath. Taken by value: a path just converted
// from UTF-16 is changed in place.
std::string NativePathOf(std::string windowsPath);

// ---- Files --------------------------------------------------------------------------------
// True while the host has a GetTempPath2W folder set: kernel32 then offers that function.
bool TempPath2Offered();
// A file opened as CreateFileW opens it, but not counted among the host's file calls nor failed
// by them: the stand-ins' own opens (the profile functions), which take part in sharing as the
// system's own do. INVALID_HANDLE_VALUE with the last error set.
HANDLE OpenFileQuietly(const std::string& nativePath, DWORD access, DWORD share, DWORD disposition);
// The whole of an open file, and all of it replaced in place; false with the last error set.
bool ReadAllQuietly(HANDLE file, std::string* content);
bool ReplaceAllQuietly(HANDLE file, const std::string& content);
// The owner's SID of the file behind a handle opened with a right to read its security; empty
// for the process's user. False with the last error set.
bool OwnerOfFile(HANDLE file, std::string* ownerSid);

// ---- Security ------------------------------------------------------------------------------
// Whether text is a SID as Windows writes it ("S-1-5-32-544").
bool IsSidText(const std::string& text);

// ---- The monitor's module ------------------------------------------------------------------
// True for host::MonitorModule() and NULL.
bool IsMonitorModule(HINSTANCE module);
// The string table's text for an ID; nullptr when there is none.
const char16_t* FindString(unsigned id);

// ---- Kernel object handles -----------------------------------------------------------------
enum class ObjectKind { kFile, kEvent, kPrinter, kToken };

struct KernelObject {
  explicit KernelObject(ObjectKind objectKind) : kind(objectKind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
  // Called once, when the last handle to it is closed (the object may live on a little longer
  // in a call that is still using it on another thread).
  virtual void OnClose() {}
  const ObjectKind kind;
};

// A fresh handle value, distinct from every other value handed out in this process: kernel
// objects, windows and registry keys all draw from it. Never NULL, never INVALID_HANDLE_VALUE.
uintptr_t NewHandleValue();
HANDLE AddHandle(std::shared_ptr<KernelObject> object);
// The object of a live handle when it is of the kind asked for; nullptr otherwise.
std::shared_ptr<KernelObject> FindHandle(HANDLE handle, ObjectKind kind);
template <class T>
std::shared_ptr<T> FindObject(HANDLE handle, ObjectKind kind) {
  return std::static_pointer_cast<T>(FindHandle(handle, kind));
}
// Takes a live handle of one of the kinds out of the table; nullptr when there is none.
std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle, std::initializer_list<ObjectKind> kinds);
long CountHandles(ObjectKind kind);

// ---- Observers -----------------------------------------------------------------------------
// A replaceable callback that is called outside of any lock of the stand-ins.
template <class Signature>
class Observer {
 public:
  void Set(std::function<Signature> function) {
    auto next =
        function ? std::make_shared<const std::function<Signature>>(std::move(function)) : nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    function_ = std::move(next);
  }
  std::shared_ptr<const std::function<Signature>> Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return function_;
  }
  template <class... Args>
  void Notify(Args&&... args) const {
    if (auto function = Get()) (*function)(std::forward<Args>(args)...);
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const std::function<Signature>> function_;
};

// ---- Failure injection by count ------------------------------------------------------------
// Counts the calls of one kind and fails the one armed: the Nth from the time it was armed.
class NthCallFailure {
 public:
  // Counts a call; true when it is the one that is to fail (which disarms it).
  bool Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    if (failAt_ != 0 && calls_ == failAt_) {
      failAt_ = 0;
      return true;
    }
    return false;
  }
  void Arm(unsigned nth) {
    std::lock_guard<std::mutex> lock(mutex_);
    failAt_ = nth == 0 ? 0 : calls_ + nth;
  }
  unsigned Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_ = 0;
    failAt_ = 0;
  }

 private:
  mutable std::mutex mutex_;
  unsigned calls_ = 0;
  unsigned failAt_ = 0;
};

// ---- Reset hooks, one per concern; host::Reset calls them all ------------------------------
void ResetClock();
void ResetDebugOutput();
void ResetMemory();
void ResetFiles();
void ResetProfile();
void ResetRegistry();
void ResetMessageBoxes();
void ResetDialogs();
void ResetShell();
void ResetSpooler();
void ResetModules();
void ResetBidiMemory();
void ResetSessions();
void ResetSecurity();

// Answers a box from the host's sources (queued answers, the answerer, the fixed answer) and
// records it, whichever route showed it.
int AnswerAndRecordBox(host::MessageBoxRecord record);
// Records a box that got no answer from those sources (it timed out, or was never seen).
void RecordBox(host::MessageBoxRecord record);

}  // namespace platform_impl
