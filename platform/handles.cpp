// The table of kernel object handles (files, events, printers) and CloseHandle.
#include <atomic>
#include <unordered_map>

#include "platform/host.h"
#include "platform/host_state.h"

namespace platform_impl {
namespace {

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // never destroyed: threads may outlive exit
  return *table;
}

std::atomic<uintptr_t> gNextHandle{0x1000};

}  // namespace

uintptr_t NewHandleValue() {
  // Multiples of 4 like Windows handles; far below any value that could be mistaken for
  // INVALID_HANDLE_VALUE or a predefined registry key.
  return gNextHandle.fetch_add(4, std::memory_order_relaxed);
}

HANDLE AddHandle(std::shared_ptr<KernelObject> object) {
  const uintptr_t value = NewHandleValue();
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle, ObjectKind kind) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (found == table.objects.end() || found->second->kind != kind) return nullptr;
  return found->second;
}

std::shared_ptr<KernelObject> RemoveHandle(HANDLE handle, std::initializer_list<ObjectKind> kinds) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (found == table.objects.end()) return nullptr;
  for (ObjectKind kind : kinds) {
    if (found->second->kind == kind) {
      std::shared_ptr<KernelObject> object = std::move(found->second);
      table.objects.erase(found);
      return object;
    }
  }
  return nullptr;
}

long CountHandles(ObjectKind kind) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  long count = 0;
  for (const auto& entry : table.objects) count += entry.second->kind == kind ? 1 : 0;
  return count;
}

}  // namespace platform_impl

using platform_impl::ObjectKind;

BOOL WINAPI CloseHandle(HANDLE hObject) {
  // INVALID_HANDLE_VALUE is the current process's pseudo handle: closing it does nothing.
  if (hObject == INVALID_HANDLE_VALUE) return TRUE;
  // Printer handles are closed with ClosePrinter only, as on Windows.
  auto object = platform_impl::RemoveHandle(
      hObject, {ObjectKind::kFile, ObjectKind::kEvent, ObjectKind::kToken});
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  object->OnClose();
  return TRUE;
}

namespace host {

long OpenFileHandles() { return platform_impl::CountHandles(ObjectKind::kFile); }
long OpenEvents() { return platform_impl::CountHandles(ObjectKind::kEvent); }

}  // namespace host
