// Loops that only the user's answer can end: a box that is not shown (quiet mode, or nobody to
// show it to) answers 0, which means "go on", and such a loop would then keep the spooler's
// thread for ever. Each of them gives up after a few unanswered questions and takes its branch
// that ends the loop. Loops that the printer itself ends (stock loaded, condition cleared,
// printer switched on) have no such bound: they wait for the printer. Real answers are not
// counted.
#pragma once

#include "diag/log.h"
#include "records/records.h"
#include "resources/resource_ids.h"
#include "settings/message_box.h"

constexpr unsigned kMaxUnansweredQuestions = 3;

// Counts the questions of one loop that nobody answered.
struct UnansweredQuestions {
  unsigned count = 0;

  // True when `answer` is the last unanswered question the loop may ask.
  bool LimitReached(int answer) {
    if (answer != 0) {
      return false;
    }
    if (++count < kMaxUnansweredQuestions) {
      return false;
    }
    LogMessage(LOG_WARNING, "%d questions went unanswered: giving up\n", static_cast<int>(count));
    return true;
  }
};

// Every question of the pre-job check carries the job's printer name as its caption.
inline int AskUser(const IniJob* pIniJob, UINT uTextId, UINT uType) {
  return OemPtrMessageBoxForJob(pIniJob, MAKEINTRESOURCEW(uTextId), pIniJob->pszPrinterName, uType);
}
