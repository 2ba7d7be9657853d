// A queue's settings belong to that queue, not to its name: a queue deleted with `lpadmin -x`
// and made anew under the same name is another printer to cupsd (another printer-uuid), and its
// counters start anew. The settings of the queue before it are put aside, not deleted, and the
// error log says where.
#pragma once

#include <string>

namespace langmon_cups {

// The queue's printer-uuid as cupsd tells it; empty when cupsd cannot be asked (a run by hand).
std::string AskQueueUuid(const std::string& queue);

// With the queue's folder as `folder`: when it was kept for another queue (another uuid), it is
// renamed to "<folder>.replaced-<that uuid's last part>" so that the new queue starts anew; the
// folder then records `uuid`. Returns what became of an earlier queue's settings (empty: they
// were this queue's, or there were none). Runs as the job's account, below its own folder.
std::string ClaimQueueFolder(const std::string& folder, const std::string& uuid);

}  // namespace langmon_cups
