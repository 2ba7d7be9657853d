// The last error of a write the real DLL refuses after its pre-job check failed and it deleted
// the port's jobs: what the spooler shows as the job's cause.
#include "tests/wine/job_host.h"

namespace wine_jobs {
namespace {

using RefusedWrite = WineJobTest;

TEST_F(RefusedWrite, AfterTheJobsWereDeletedIsPrintCancelled) {
  sim::Status status;
  status.errorFlags = 0x08;  // unrecoverable
  printer_->SetStatus(status);
  const sim::JobResult result = Print(2, 600, 4);
  ASSERT_TRUE(result.writeFailed);
  EXPECT_EQ(result.writeError, 63u);  // ERROR_PRINT_CANCELLED
  EXPECT_EQ(JobControls(JOB_CONTROL_DELETE), std::vector<DWORD>{4});
}

}  // namespace
}  // namespace wine_jobs
