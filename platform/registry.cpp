// An in-memory registry below HKEY_LOCAL_MACHINE.
#include <cstring>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>

#include "platform/host.h"
#include "platform/host_state.h"

namespace {

struct Value {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct Key {
  std::u16string foldedPath;  // below HKEY_LOCAL_MACHINE, components joined by '\'
  std::map<std::u16string, std::shared_ptr<Key>> children;  // by folded name
  std::map<std::u16string, Value> values;                   // by folded name
};

struct OpenKey {
  std::shared_ptr<Key> key;
  REGSAM access;
};

struct RegistryState {
  std::mutex mutex;
  std::shared_ptr<Key> root = std::make_shared<Key>();
  std::set<std::u16string> refused;  // folded paths
  std::unordered_map<uintptr_t, OpenKey> handles;
};

RegistryState& State() {
  static RegistryState* state = new RegistryState;
  return *state;
}

constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x0020 /* create link */ |
                                0x00010000 /* delete */ | 0x00040000 /* write DAC */ |
                                0x00080000 /* write owner */;

std::vector<std::u16string> SplitPath(std::u16string_view path) {
  std::vector<std::u16string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::u16string JoinPath(const std::u16string& base, const std::u16string& name) {
  return base.empty() ? name : base + u"\\" + name;
}

// The folded path of `path` below the key at `base`, empty components dropped.
std::u16string FoldedPath(std::u16string base, std::u16string_view path) {
  for (const std::u16string& part : SplitPath(path)) {
    base = JoinPath(base, platform_impl::FoldString(part));
  }
  return base;
}

// Resolves a handle to its key and granted access; false for an unknown handle. Under the lock.
bool Resolve(RegistryState& state, HKEY handle, OpenKey& out) {
  if (handle == HKEY_LOCAL_MACHINE) {
    out = {state.root, KEY_ALL_ACCESS};
    return true;
  }
  auto found = state.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == state.handles.end()) return false;
  out = found->second;
  return true;
}

enum class Walking {
  kFind,             // only existing keys
  kCreateAsMonitor,  // creates missing keys, except below a key that refuses writes
  kCreateAsHost,     // creates missing keys whatever refuses writes
};

// Walks the path below `from`, creating missing keys when asked to. Under the lock.
std::shared_ptr<Key> Walk(RegistryState& state, std::shared_ptr<Key> from, std::u16string_view path,
                          Walking walking, bool* created = nullptr, LSTATUS* error = nullptr) {
  if (created) *created = false;
  for (const std::u16string& part : SplitPath(path)) {
    const std::u16string folded = platform_impl::FoldString(part);
    auto child = from->children.find(folded);
    if (child == from->children.end()) {
      if (walking == Walking::kFind) {
        if (error) *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
      }
      if (walking == Walking::kCreateAsMonitor && state.refused.count(from->foldedPath)) {
        if (error) *error = ERROR_ACCESS_DENIED;
        return nullptr;
      }
      auto key = std::make_shared<Key>();
      key->foldedPath = JoinPath(from->foldedPath, folded);
      child = from->children.emplace(folded, std::move(key)).first;
      if (created) *created = true;
    }
    from = child->second;
  }
  return from;
}

}  // namespace

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                               DWORD dwOptions, REGSAM samDesired,
                               LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
  (void)lpClass;
  (void)dwOptions;
  (void)lpSecurityAttributes;
  if (Reserved != 0 || !phkResult) return ERROR_INVALID_PARAMETER;
  const std::u16string_view subKey = platform_impl::WideView(lpSubKey);
  if (!subKey.empty() && subKey.front() == u'\\') return ERROR_BAD_PATHNAME;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey parent;
  if (!Resolve(state, hKey, parent)) return ERROR_INVALID_HANDLE;
  if ((samDesired & kWriteAccess) &&
      state.refused.count(FoldedPath(parent.key->foldedPath, subKey))) {
    return ERROR_ACCESS_DENIED;
  }
  if (!(parent.access & KEY_CREATE_SUB_KEY) && !Walk(state, parent.key, subKey, Walking::kFind)) {
    return ERROR_ACCESS_DENIED;
  }
  bool created = false;
  LSTATUS error = ERROR_SUCCESS;
  std::shared_ptr<Key> key =
      Walk(state, parent.key, subKey, Walking::kCreateAsMonitor, &created, &error);
  if (!key) return error;
  const uintptr_t value = platform_impl::NewHandleValue();
  state.handles.emplace(value, OpenKey{key, samDesired});
  *phkResult = reinterpret_cast<HKEY>(value);
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey open;
  if (!Resolve(state, hKey, open)) return ERROR_INVALID_HANDLE;
  if (!(open.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  auto found =
      open.key->values.find(platform_impl::FoldString(platform_impl::WideView(lpValueName)));
  if (found == open.key->values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& value = found->second;
  const DWORD size = static_cast<DWORD>(value.data.size());
  if (lpType) *lpType = value.type;
  if (!lpData) {
    if (lpcbData) *lpcbData = size;
    return ERROR_SUCCESS;
  }
  if (*lpcbData < size) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (size) std::memcpy(lpData, value.data.data(), size);
  *lpcbData = size;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                              const BYTE* lpData, DWORD cbData) {
  if (Reserved != 0 || (!lpData && cbData != 0)) return ERROR_INVALID_PARAMETER;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  OpenKey open;
  if (!Resolve(state, hKey, open)) return ERROR_INVALID_HANDLE;
  if (!(open.access & KEY_SET_VALUE) || state.refused.count(open.key->foldedPath)) {
    return ERROR_ACCESS_DENIED;
  }
  const std::u16string_view name = platform_impl::WideView(lpValueName);
  Value& value = open.key->values[platform_impl::FoldString(name)];
  value.name = std::u16string(name);
  value.type = dwType;
  value.data.assign(lpData, lpData + cbData);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
  if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.handles.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS
                                                                : ERROR_INVALID_HANDLE;
}

namespace platform_impl {

// Open key handles stay valid (on the keys they had) so that the monitor's later RegCloseKey
// succeeds; the tree itself starts empty.
void ResetRegistry() {
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.root = std::make_shared<Key>();
  state.refused.clear();
}

}  // namespace platform_impl

namespace host {

long OpenRegistryKeys() {
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return static_cast<long>(state.handles.size());
}

void RefuseRegistryWrites(const std::u16string& keyPath, bool refuse) {
  RegistryState& state = State();
  const std::u16string folded = FoldedPath(u"", keyPath);
  std::lock_guard<std::mutex> lock(state.mutex);
  if (refuse) {
    state.refused.insert(folded);
  } else {
    state.refused.erase(folded);
  }
}

void CreateRegistryKey(const std::u16string& keyPath) {
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  Walk(state, state.root, keyPath, Walking::kCreateAsHost);
}

bool RegistryKeyExists(const std::u16string& keyPath) {
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return Walk(state, state.root, keyPath, Walking::kFind) != nullptr;
}

RegistryValue GetRegistryValue(const std::u16string& keyPath, const std::u16string& valueName) {
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  RegistryValue result;
  std::shared_ptr<Key> key = Walk(state, state.root, keyPath, Walking::kFind);
  if (!key) return result;
  auto found = key->values.find(platform_impl::FoldString(valueName));
  if (found == key->values.end()) return result;
  result.present = true;
  result.type = found->second.type;
  result.data = found->second.data;
  return result;
}

void SetRegistryValue(const std::u16string& keyPath, const std::u16string& valueName, DWORD type,
                      const std::vector<uint8_t>& data) {
  RegistryState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::shared_ptr<Key> key = Walk(state, state.root, keyPath, Walking::kCreateAsHost);
  Value& value = key->values[platform_impl::FoldString(valueName)];
  value.name = valueName;
  value.type = type;
  value.data = data;
}

}  // namespace host
