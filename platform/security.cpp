// Security: the process's token and its user, the owners of files (GetKernelObjectSecurity,
// GetSecurityDescriptorOwner), EqualSid and IsWellKnownSid.
//
// SIDs are binary as on Windows: revision 1, a count of sub-authorities, a six-byte authority
// and the sub-authorities. A security descriptor handed out is self-relative, with the owner
// behind its 20-byte header. The process runs as the host's user (host::SetProcessUser), which
// also owns every file the host gave no other owner.
#include <cstring>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/host_state.h"

using platform_impl::ObjectKind;

namespace {

constexpr BYTE kSidRevision = 1;
constexpr BYTE kMaxSubAuthorities = 15;
constexpr size_t kSidHeaderSize = 8;
constexpr WORD kSelfRelative = 0x8000;
constexpr size_t kDescriptorHeaderSize = 20;
constexpr char kSystemSid[] = "S-1-5-18";
constexpr char kAdministratorsSid[] = "S-1-5-32-544";

struct SecurityState {
  std::mutex mutex;
  std::string processUser = host::kDefaultProcessUser;
};

SecurityState& State() {
  static SecurityState* state = new SecurityState;
  return *state;
}

// The binary SID of its text; empty when the text is not one.
std::vector<BYTE> SidOf(const std::string& text) {
  if (text.compare(0, 2, "S-") != 0) return {};
  std::vector<uint64_t> numbers;
  size_t at = 2;
  while (at <= text.size()) {
    const size_t dash = text.find('-', at);
    const std::string part = text.substr(at, dash == std::string::npos ? dash : dash - at);
    if (part.empty() || part.size() > 15 || part.find_first_not_of("0123456789") != part.npos) {
      return {};
    }
    numbers.push_back(std::stoull(part));
    if (dash == std::string::npos) break;
    at = dash + 1;
  }
  // Revision, authority, then at least one and at most fifteen sub-authorities.
  if (numbers.size() < 3 || numbers.size() > 2u + kMaxSubAuthorities || numbers[0] != 1 ||
      numbers[1] >= (uint64_t{1} << 48)) {
    return {};
  }
  std::vector<BYTE> sid(kSidHeaderSize + 4 * (numbers.size() - 2));
  sid[0] = kSidRevision;
  sid[1] = static_cast<BYTE>(numbers.size() - 2);
  for (int i = 0; i < 6; ++i) sid[2 + i] = static_cast<BYTE>(numbers[1] >> (8 * (5 - i)));
  for (size_t i = 2; i < numbers.size(); ++i) {
    if (numbers[i] > 0xFFFFFFFFu) return {};
    const uint32_t sub = static_cast<uint32_t>(numbers[i]);
    std::memcpy(&sid[kSidHeaderSize + 4 * (i - 2)], &sub, 4);
  }
  return sid;
}

// The length of a binary SID, or 0 when it is not one.
size_t LengthOfSid(const void* sid) {
  if (sid == nullptr) return 0;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  if (bytes[0] != kSidRevision || bytes[1] > kMaxSubAuthorities) return 0;
  return kSidHeaderSize + 4u * bytes[1];
}

std::string ProcessUser() {
  SecurityState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.processUser;
}

struct Token : platform_impl::KernelObject {
  explicit Token(std::vector<BYTE> userSid) : KernelObject(ObjectKind::kToken), user(userSid) {}
  const std::vector<BYTE> user;  // as it was when the token was opened
};

BOOL FailWith(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Copies what a caller asked for into its buffer, or tells the size needed.
BOOL Hand(const std::vector<BYTE>& data, void* buffer, DWORD size, DWORD* needed) {
  if (needed) *needed = static_cast<DWORD>(data.size());
  if (buffer == nullptr || size < data.size()) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, data.data(), data.size());
  return TRUE;
}

}  // namespace

namespace platform_impl {

bool IsSidText(const std::string& text) { return !SidOf(text).empty(); }

void ResetSecurity() {
  SecurityState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.processUser = host::kDefaultProcessUser;
}

}  // namespace platform_impl

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  (void)DesiredAccess;
  if (TokenHandle == nullptr) return FailWith(ERROR_INVALID_PARAMETER);
  if (ProcessHandle != GetCurrentProcess()) return FailWith(ERROR_INVALID_HANDLE);
  *TokenHandle = platform_impl::AddHandle(std::make_shared<Token>(SidOf(ProcessUser())));
  return TRUE;
}

// TokenUser only: a TOKEN_USER whose SID follows it in the buffer.
BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                LPVOID TokenInformation, DWORD TokenInformationLength,
                                PDWORD ReturnLength) {
  auto token = platform_impl::FindObject<Token>(TokenHandle, ObjectKind::kToken);
  if (!token) return FailWith(ERROR_INVALID_HANDLE);
  if (TokenInformationClass != TokenUser) return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<BYTE> data(sizeof(TOKEN_USER) + token->user.size());
  std::memcpy(data.data() + sizeof(TOKEN_USER), token->user.data(), token->user.size());
  if (!Hand(data, TokenInformation, TokenInformationLength, ReturnLength)) return FALSE;
  auto* user = static_cast<TOKEN_USER*>(TokenInformation);
  user->User.Sid = static_cast<BYTE*>(TokenInformation) + sizeof(TOKEN_USER);
  user->User.Attributes = 0;
  return TRUE;
}

// Files only, and their owner only: the other parts of a descriptor are left out.
BOOL WINAPI GetKernelObjectSecurity(HANDLE Handle, SECURITY_INFORMATION RequestedInformation,
                                    PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                                    LPDWORD lpnLengthNeeded) {
  std::string owner;
  if (!platform_impl::OwnerOfFile(Handle, &owner)) return FALSE;
  std::vector<BYTE> descriptor(kDescriptorHeaderSize);
  descriptor[0] = kSidRevision;
  std::memcpy(&descriptor[2], &kSelfRelative, sizeof(kSelfRelative));
  if (RequestedInformation & OWNER_SECURITY_INFORMATION) {
    const std::vector<BYTE> sid = SidOf(owner.empty() ? ProcessUser() : owner);
    const DWORD offset = static_cast<DWORD>(kDescriptorHeaderSize);
    std::memcpy(&descriptor[4], &offset, sizeof(offset));
    descriptor.insert(descriptor.end(), sid.begin(), sid.end());
  }
  return Hand(descriptor, pSecurityDescriptor, nLength, lpnLengthNeeded);
}

// Self-relative descriptors, as GetKernelObjectSecurity hands them out.
BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                       LPBOOL lpbOwnerDefaulted) {
  if (pSecurityDescriptor == nullptr || pOwner == nullptr || lpbOwnerDefaulted == nullptr) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  const BYTE* bytes = static_cast<const BYTE*>(pSecurityDescriptor);
  WORD control = 0;
  DWORD offset = 0;
  std::memcpy(&control, bytes + 2, sizeof(control));
  std::memcpy(&offset, bytes + 4, sizeof(offset));
  if (bytes[0] != kSidRevision || !(control & kSelfRelative)) {
    return FailWith(ERROR_INVALID_SECURITY_DESCR);
  }
  *pOwner = offset == 0 ? nullptr : static_cast<BYTE*>(pSecurityDescriptor) + offset;
  *lpbOwnerDefaulted = FALSE;
  return TRUE;
}

BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
  const size_t length = LengthOfSid(pSid1);
  if (length == 0 || LengthOfSid(pSid2) == 0) return FailWith(ERROR_INVALID_SID);
  SetLastError(ERROR_SUCCESS);
  return length == LengthOfSid(pSid2) && std::memcmp(pSid1, pSid2, length) == 0;
}

// SYSTEM and the local Administrators group; every other kind is no match.
BOOL WINAPI IsWellKnownSid(PSID pSid, WELL_KNOWN_SID_TYPE WellKnownSidType) {
  const size_t length = LengthOfSid(pSid);
  const char* text = WellKnownSidType == WinLocalSystemSid             ? kSystemSid
                     : WellKnownSidType == WinBuiltinAdministratorsSid ? kAdministratorsSid
                                                                       : nullptr;
  if (length == 0 || text == nullptr) return FALSE;
  const std::vector<BYTE> known = SidOf(text);
  return known.size() == length && std::memcmp(pSid, known.data(), length) == 0;
}

namespace host {

void SetProcessUser(const std::string& sid) {
  SecurityState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.processUser = platform_impl::IsSidText(sid) ? sid : kDefaultProcessUser;
}

long OpenTokens() { return platform_impl::CountHandles(ObjectKind::kToken); }

}  // namespace host
