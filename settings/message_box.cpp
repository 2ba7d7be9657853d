#include "settings/message_box.h"

#include "diag/log.h"
#include "records/records.h"
#include "settings/prompt_routes.h"

namespace {

// A resource longer than its buffer is cut by the load.
constexpr int kTextBufferChars = 320;
constexpr int kCaptionBufferChars = 50;

constexpr WCHAR kEmptyCaption[] = WSTR("");

UINT StringIdOf(LPCWSTR pszTextOrId) { return LOWORD(reinterpret_cast<ULONG_PTR>(pszTextOrId)); }

int UnableToDisplay() {
  LogMessage(LOG_ERROR, "OemPtrMessageBox() unable to display MessageBox() \n");
  return 0;
}

// Resolves the text and caption, then asks by the route that reaches a person.
int AskQuestion(const IniJob* pIniJob, BOOL fShow, HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption,
                UINT uType) {
  LogMessage(LOG_TRACE, "OemPtrMessageBox() Called\n");

  if (pszText == nullptr) {
    LogMessage(LOG_ERROR, "OemPtrMessageBox(): NULL pointer!\n");
    return UnableToDisplay();
  }

  WCHAR szText[kTextBufferChars];
  const UINT uTextId = IS_INTRESOURCE(pszText) ? StringIdOf(pszText) : 0;
  if (IS_INTRESOURCE(pszText)) {
    if (LoadStringW(hInst, StringIdOf(pszText), szText, kTextBufferChars) <= 0) {
      LogMessage(LOG_ERROR, "OemPtrMessageBox(): failed to load string!\n");
      return UnableToDisplay();
    }
    pszText = szText;
  }

  // A caption that cannot be had is not worth losing the question over.
  WCHAR szCaption[kCaptionBufferChars];
  if (pszCaption == nullptr) {
    pszCaption = kEmptyCaption;
  } else if (IS_INTRESOURCE(pszCaption)) {
    if (LoadStringW(hInst, StringIdOf(pszCaption), szCaption, kCaptionBufferChars) <= 0) {
      LogMessage(LOG_ERROR, "OemPtrMessageBox(): failed to load title string!\n");
      pszCaption = kEmptyCaption;
    } else {
      pszCaption = szCaption;
    }
  }

  int result = 0;
  if (fShow) {
    result = ShowPrompt(pIniJob, hWnd, uTextId, pszText, pszCaption, uType);
  } else {
    LogMessage(LOG_TRACE, "OemPtrMessageBox() BYPASSED\n");
  }

  LogMessage(LOG_TRACE, "OemPtrMessageBox() returning (%d)\n", result);
  return result;
}

}  // namespace

BOOL PromptsShownFor(const IniJob* pIniJob) {
  if (pIniJob == nullptr || pIniJob->prompts == JobPrompts::AsLastStart) {
    return fShowUI.load();
  }
  return pIniJob->prompts == JobPrompts::Shown ? TRUE : FALSE;
}

int OemPtrMessageBox(HWND hWnd, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType) {
  return AskQuestion(nullptr, fShowUI.load(), hWnd, pszText, pszCaption, uType);
}

int OemPtrMessageBoxForJob(const IniJob* pIniJob, LPCWSTR pszText, LPCWSTR pszCaption, UINT uType) {
  return AskQuestion(pIniJob, PromptsShownFor(pIniJob), nullptr, pszText, pszCaption, uType);
}

int OemPtrMessageBoxForStart(const IniJob* pIniJob, BOOL fShow, LPCWSTR pszText, LPCWSTR pszCaption,
                             UINT uType) {
  return AskQuestion(pIniJob, fShow, nullptr, pszText, pszCaption, uType);
}
