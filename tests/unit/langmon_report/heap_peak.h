// The most heap memory this test program held at once since a moment: every operator new and
// delete of the program is counted (heap_peak.cpp replaces them), so a test can see what a piece
// of work held at its worst, not only what it holds at the end.
#pragma once

#include <cstddef>

namespace langmon_report {

class HeapPeak {
 public:
  HeapPeak();  // counting from now
  // The most bytes held at once since then, above what was held then.
  size_t Above() const;

 private:
  size_t start_;
};

}  // namespace langmon_report
