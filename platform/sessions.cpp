// Sessions: the monitor's own, each job's, and the spooler's prompts in a job owner's session.
#include "platform/host.h"
#include "platform/host_state.h"

namespace {

constexpr char kIsSessionZero[] = "SplIsSessionZero";
constexpr char kPromptInUsersSession[] = "SplPromptUIInUsersSession";

struct SessionsState {
  std::mutex mutex;
  DWORD processSession = 1;
  DWORD jobSession = 1;
  DWORD sessionQueryError = 0;
  host::JobOwner owner;
};

SessionsState& State() {
  static SessionsState* state = new SessionsState;
  return *state;
}

}  // namespace

namespace platform_impl {

void ResetSessions() {
  SessionsState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.processSession = 1;
    state.jobSession = 1;
    state.sessionQueryError = 0;
    state.owner = host::JobOwner{};
  }
  host::OfferSessionPrompts(false);
}

}  // namespace platform_impl

DWORD WINAPI GetCurrentProcessId() { return 4242; }

BOOL WINAPI ProcessIdToSessionId(DWORD dwProcessId, DWORD* pSessionId) {
  if (pSessionId == nullptr || dwProcessId != GetCurrentProcessId()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SessionsState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  *pSessionId = state.processSession;
  return TRUE;
}

DWORD WINAPI SplIsSessionZero(HANDLE hPrinter, DWORD JobId, BOOL* pIsSessionZero) {
  (void)JobId;
  if (hPrinter == nullptr || pIsSessionZero == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  SessionsState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.sessionQueryError != 0) {
    return state.sessionQueryError;
  }
  *pIsSessionZero = state.jobSession == 0 ? TRUE : FALSE;
  return ERROR_SUCCESS;
}

BOOL WINAPI SplPromptUIInUsersSession(HANDLE hPrinter, DWORD JobId, PSHOWUIPARAMS pUIParams,
                                      DWORD* pResponse) {
  (void)JobId;
  if (hPrinter == nullptr || pUIParams == nullptr || pResponse == nullptr ||
      pUIParams->UIType != kMessageBox ||
      pUIParams->MessageBoxParams.cbSize != sizeof(MESSAGEBOX_PARAMS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  host::JobOwner owner;
  {
    SessionsState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    owner = state.owner;
  }
  const MESSAGEBOX_PARAMS& params = pUIParams->MessageBoxParams;
  host::MessageBoxRecord record;
  record.text = std::u16string(platform_impl::WideView(params.pMessage));
  record.caption = std::u16string(platform_impl::WideView(params.pTitle));
  record.type = params.Style;
  record.ownersSession = true;
  record.timeoutSeconds = params.dwTimeout;
  if (owner.failError != 0) {
    record.error = owner.failError;
    platform_impl::RecordBox(std::move(record));
    SetLastError(owner.failError);
    return FALSE;
  }
  const DWORD timeoutMs = params.dwTimeout * 1000;
  if (params.dwTimeout != 0 && owner.answerAfterMs >= timeoutMs) {
    Sleep(timeoutMs);
    record.answer = IDTIMEOUT;
    platform_impl::RecordBox(std::move(record));
    *pResponse = IDTIMEOUT;
    return TRUE;
  }
  Sleep(owner.answerAfterMs);
  *pResponse = static_cast<DWORD>(platform_impl::AnswerAndRecordBox(std::move(record)));
  return TRUE;
}

namespace host {

void SetProcessSession(DWORD sessionId) {
  SessionsState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.processSession = sessionId;
}

void OfferSessionPrompts(bool offer) {
  WithholdSpoolerFunction(kIsSessionZero, !offer);
  WithholdSpoolerFunction(kPromptInUsersSession, !offer);
}

void SetJobSession(DWORD sessionId) {
  SessionsState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.jobSession = sessionId;
}

void FailSessionQuery(DWORD error) {
  SessionsState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.sessionQueryError = error;
}

void SetJobOwner(const JobOwner& owner) {
  SessionsState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.owner = owner;
}

}  // namespace host
