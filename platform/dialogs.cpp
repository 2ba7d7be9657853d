// Modeless dialogs: the monitor's progress dialog (template 433), its one static control, and a
// message queue that holds the dialog's WM_PAINT once it is shown.
//
// Messages sent by the functions (WM_INITDIALOG at creation, WM_DESTROY at destruction) reach the
// dialog procedure at once, on the calling thread. A dialog belongs to the thread that created
// it: PeekMessageW hands out only that thread's messages.
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/host.h"
#include "platform/host_state.h"
#include "resources/resource_ids.h"

namespace {

struct Window {
  uintptr_t handle = 0;
  bool isDialog = false;
  unsigned templateId = 0;
  int controlId = 0;  // controls
  std::u16string text;
  bool visible = false;
  bool alive = true;
  bool destroying = false;
  DLGPROC proc = nullptr;
  std::thread::id owner;
  bool paintPending = false;
  unsigned dispatched = 0;
  bool listed = false;              // dialogs: among host::Dialogs() (until Reset)
  std::shared_ptr<Window> control;  // dialogs: the one control, while it exists
  std::weak_ptr<Window> dialog;     // controls: the dialog that holds it
  std::u16string lastControlText;   // dialogs: the control's text when it went away
  int lastControlId = 0;
};

struct DialogState {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
  std::vector<std::shared_ptr<Window>> listed;
  unsigned creations = 0;
  unsigned failAtCreation = 0;
  platform_impl::Observer<void(const host::DialogRecord&)> observer;
};

DialogState& State() {
  static DialogState* state = new DialogState;
  return *state;
}

HWND ToHwnd(uintptr_t value) { return reinterpret_cast<HWND>(value); }

std::shared_ptr<Window> FindWindow(DialogState& state, HWND hwnd) {
  auto found = state.windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return found == state.windows.end() ? nullptr : found->second;
}

// Under the lock.
host::DialogRecord Snapshot(const Window& dialog) {
  host::DialogRecord record;
  record.window = ToHwnd(dialog.handle);
  record.templateId = dialog.templateId;
  record.caption = dialog.text;
  if (dialog.control) {
    record.controlId = dialog.control->controlId;
    record.controlText = dialog.control->text;
  } else {
    record.controlId = dialog.lastControlId;
    record.controlText = dialog.lastControlText;
  }
  record.visible = dialog.visible;
  record.alive = dialog.alive;
  record.messagesDispatched = dialog.dispatched;
  return record;
}

// The dialog a window belongs to (itself for a dialog). Under the lock.
std::shared_ptr<Window> DialogOf(const std::shared_ptr<Window>& window) {
  return window->isDialog ? window : window->dialog.lock();
}

// Tells the observer about a listed dialog; called without the lock.
void Notify(DialogState& state, const std::shared_ptr<Window>& dialog) {
  if (!dialog) return;
  host::DialogRecord record;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!dialog->listed) return;
    record = Snapshot(*dialog);
  }
  state.observer.Notify(record);
}

// Calls the dialog procedure with a message and counts it as dispatched.
LRESULT Dispatch(DialogState& state, const MSG& message) {
  std::shared_ptr<Window> dialog;
  DLGPROC proc = nullptr;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    std::shared_ptr<Window> window = FindWindow(state, message.hwnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    dialog = DialogOf(window);
    if (dialog) ++dialog->dispatched;
    if (window->isDialog) proc = window->proc;
  }
  LRESULT result = 0;
  if (proc) result = proc(message.hwnd, message.message, message.wParam, message.lParam);
  Notify(state, dialog);
  return result;
}

}  // namespace

HWND WINAPI CreateDialogParamW(HINSTANCE hInstance, LPCWSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
  (void)hWndParent;
  DialogState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    ++state.creations;
    if (state.failAtCreation != 0 && state.creations == state.failAtCreation) {
      state.failAtCreation = 0;
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  if (!platform_impl::IsMonitorModule(hInstance)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  if (!IS_INTRESOURCE(lpTemplateName) ||
      LOWORD(reinterpret_cast<ULONG_PTR>(lpTemplateName)) != IDD_ALIGN_PROGRESS) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }

  auto dialog = std::make_shared<Window>();
  dialog->handle = platform_impl::NewHandleValue();
  dialog->isDialog = true;
  dialog->templateId = IDD_ALIGN_PROGRESS;
  dialog->text = u"" ALIGN_PROGRESS_CAPTION;
  dialog->proc = lpDialogFunc;
  dialog->owner = std::this_thread::get_id();
  dialog->listed = true;
  auto control = std::make_shared<Window>();
  control->handle = platform_impl::NewHandleValue();
  control->controlId = IDC_ALIGN_PROGRESS_TEXT;
  control->text = u"" ALIGN_PROGRESS_CAPTION;
  control->visible = true;  // the control's template style has WS_VISIBLE; the dialog's has not
  control->owner = dialog->owner;
  control->dialog = dialog;
  dialog->control = control;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.windows.emplace(dialog->handle, dialog);
    state.windows.emplace(control->handle, control);
    state.listed.push_back(dialog);
  }
  Notify(state, dialog);

  const HWND hwnd = ToHwnd(dialog->handle);
  if (lpDialogFunc) {
    lpDialogFunc(hwnd, WM_INITDIALOG, static_cast<WPARAM>(control->handle), dwInitParam);
  }
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!dialog->alive) {  // destroyed by its own WM_INITDIALOG
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return hwnd;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  DialogState& state = State();
  std::shared_ptr<Window> dialog;
  bool wasVisible;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    std::shared_ptr<Window> window = FindWindow(state, hWnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    wasVisible = window->visible;
    window->visible = nCmdShow != SW_HIDE;
    if (window->isDialog) {
      if (!wasVisible && window->visible) window->paintPending = true;
      if (!window->visible) window->paintPending = false;
      if (wasVisible != window->visible) dialog = window;
    }
  }
  Notify(state, dialog);
  return wasVisible ? TRUE : FALSE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  DialogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::shared_ptr<Window> dialog = FindWindow(state, hDlg);
  if (!dialog) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  if (!dialog->isDialog || !dialog->control || dialog->control->controlId != nIDDlgItem) {
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
  }
  return ToHwnd(dialog->control->handle);
}

BOOL WINAPI SetDlgItemTextW(HWND hDlg, int nIDDlgItem, LPCWSTR lpString) {
  DialogState& state = State();
  std::shared_ptr<Window> dialog;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    dialog = FindWindow(state, hDlg);
    if (!dialog) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (!dialog->isDialog || !dialog->control || dialog->control->controlId != nIDDlgItem) {
      SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
      return FALSE;
    }
    dialog->control->text = std::u16string(platform_impl::WideView(lpString));
  }
  Notify(state, dialog);
  return TRUE;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  DialogState& state = State();
  std::shared_ptr<Window> window;
  DLGPROC proc = nullptr;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    window = FindWindow(state, hWnd);
    if (!window) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return FALSE;
    }
    if (window->destroying) return TRUE;
    window->destroying = true;
    if (window->isDialog) proc = window->proc;
  }
  if (proc) proc(hWnd, WM_DESTROY, 0, 0);
  std::shared_ptr<Window> dialog;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    dialog = DialogOf(window);
    auto finish = [&state](Window& gone) {
      gone.alive = false;
      gone.visible = false;
      gone.paintPending = false;
      state.windows.erase(gone.handle);
    };
    if (window->isDialog) {
      if (window->control) {
        window->lastControlId = window->control->controlId;
        window->lastControlText = window->control->text;
        finish(*window->control);
        window->control = nullptr;
      }
    } else if (dialog) {
      dialog->lastControlId = window->controlId;
      dialog->lastControlText = window->text;
      dialog->control = nullptr;
    }
    finish(*window);
  }
  Notify(state, dialog);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
  DialogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return FindWindow(state, hWnd) ? TRUE : FALSE;
}

// The only queued message is a shown dialog's WM_PAINT; PM_REMOVE takes it (once per showing).
BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
  if (!lpMsg) return FALSE;
  if (!(wMsgFilterMin == 0 && wMsgFilterMax == 0) &&
      !(WM_PAINT >= wMsgFilterMin && WM_PAINT <= wMsgFilterMax)) {
    return FALSE;
  }
  DialogState& state = State();
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::shared_ptr<Window> chosen;
  for (const auto& entry : state.windows) {
    const std::shared_ptr<Window>& window = entry.second;
    if (!window->paintPending || window->owner != self) continue;
    if (hWnd && reinterpret_cast<uintptr_t>(hWnd) != window->handle) continue;
    if (!chosen || window->handle < chosen->handle) chosen = window;  // oldest first
  }
  if (!chosen) return FALSE;
  *lpMsg = MSG{};
  lpMsg->hwnd = ToHwnd(chosen->handle);
  lpMsg->message = WM_PAINT;
  lpMsg->time = GetTickCount();
  if (wRemoveMsg & PM_REMOVE) chosen->paintPending = false;
  return TRUE;
}

BOOL WINAPI IsDialogMessageW(HWND hDlg, LPMSG lpMsg) {
  if (!lpMsg) return FALSE;
  DialogState& state = State();
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    std::shared_ptr<Window> dialog = FindWindow(state, hDlg);
    std::shared_ptr<Window> target = FindWindow(state, lpMsg->hwnd);
    if (!dialog || !dialog->isDialog || !target || DialogOf(target) != dialog) return FALSE;
  }
  Dispatch(state, *lpMsg);
  return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
  (void)lpMsg;
  return FALSE;  // no keyboard messages here
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg) {
  if (!lpMsg) return 0;
  return Dispatch(State(), *lpMsg);
}

namespace platform_impl {

// Windows stay valid (the monitor may still destroy them); only the list starts over.
void ResetDialogs() {
  DialogState& state = State();
  state.observer.Set(nullptr);
  std::lock_guard<std::mutex> lock(state.mutex);
  for (const auto& dialog : state.listed) dialog->listed = false;
  state.listed.clear();
  state.creations = 0;
  state.failAtCreation = 0;
}

}  // namespace platform_impl

namespace host {

std::vector<DialogRecord> Dialogs() {
  DialogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  std::vector<DialogRecord> records;
  records.reserve(state.listed.size());
  for (const auto& dialog : state.listed) records.push_back(Snapshot(*dialog));
  return records;
}

void OnDialogChange(std::function<void(const DialogRecord&)> observer) {
  State().observer.Set(std::move(observer));
}

void FailDialogCreation(unsigned nth) {
  DialogState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.failAtCreation = nth == 0 ? 0 : state.creations + nth;
}

}  // namespace host
