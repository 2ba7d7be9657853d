// Frames larger than a page. Before such a function moves the stack pointer down, its code calls
// __chkstk (for ARM64 our own, cmake/aarch64-w64-mingw32/chkstk.S; for x86 and x64
// compiler-rt's), which must touch every new page in order from the top, so that the system commits
// the stack a guard page at a time and reports a stack overflow at its end, and must leave every
// register that carries an argument as it was.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

namespace {

constexpr size_t kPage = 4096;

// Opaque to the optimiser, so that the frames below stay as large as they are written.
__attribute__((noinline)) void Touch(volatile unsigned char* bytes, size_t size,
                                     unsigned char mark) {
  for (size_t i = 0; i < size; i += kPage) {
    bytes[i] = mark;
  }
  bytes[size - 1] = mark;
}

__attribute__((noinline)) bool Marked(const volatile unsigned char* bytes, size_t size,
                                      unsigned char mark) {
  for (size_t i = 0; i < size; i += kPage) {
    if (bytes[i] != mark) {
      return false;
    }
  }
  return bytes[size - 1] == mark;
}

// Eight integer and eight floating-point arguments: all of them arrive in registers on ARM64 and
// some on x64, where the probe runs before the body reads them. Each is weighted by its place.
__attribute__((noinline)) double WeighedBehindALargeFrame(int64_t a, int64_t b, int64_t c,
                                                          int64_t d, int64_t e, int64_t f,
                                                          int64_t g, int64_t h, double p, double q,
                                                          double r, double s, double t, double u,
                                                          double v, double w) {
  volatile unsigned char frame[5 * kPage + 100];
  Touch(frame, sizeof(frame), 0x5A);
  const int64_t integers = a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h;
  const double floats = p + 2 * q + 3 * r + 4 * s + 5 * t + 6 * u + 7 * v + 8 * w;
  return Marked(frame, sizeof(frame), 0x5A) ? static_cast<double>(integers) + floats : -1;
}

TEST(LargeFrame, ReceivesEveryArgumentUnchanged) {
  EXPECT_EQ(
      WeighedBehindALargeFrame(1, 2, 3, 4, 5, 6, 7, 8, 0.5, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0),
      306.0);  // 204 from the integers, 102 from the doubles
  EXPECT_EQ(WeighedBehindALargeFrame(-8, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0.25), 2.0);
}

// A frame larger than a thread's whole stack: the probes reach the stack's last guard page from
// above, and the system reports a stack overflow there. A probe that skipped pages, went the
// wrong way or moved the stack pointer itself would fault elsewhere first, as an access
// violation, or take the process down.
constexpr size_t kBeyondAnyStack = 8 * 1024 * 1024;
constexpr SIZE_T kThreadStack = 1024 * 1024;
DWORD probeThread = 0;

__attribute__((noinline)) DWORD WINAPI RunAFrameBeyondTheStack(void*) {
  volatile unsigned char frame[kBeyondAnyStack];
  Touch(frame, sizeof(frame), 1);
  return Marked(frame, sizeof(frame), 1) ? 1 : 2;  // not reached
}

// The thread's exception ends it, with the exception's code as its exit code. (The probe faults
// below the stack pointer, which stays where it was: the handler has the rest of the stack.)
LONG CALLBACK EndTheProbeThread(EXCEPTION_POINTERS* exception) {
  if (GetCurrentThreadId() != probeThread) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ExitThread(exception->ExceptionRecord->ExceptionCode);
}

TEST(LargeFrame, BeyondTheStackIsAStackOverflow) {
  void* handler = AddVectoredExceptionHandler(1, EndTheProbeThread);
  ASSERT_NE(handler, nullptr);
  HANDLE thread = CreateThread(nullptr, kThreadStack, RunAFrameBeyondTheStack, nullptr,
                               CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &probeThread);
  ASSERT_NE(thread, nullptr);
  ResumeThread(thread);
  ASSERT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 0xC00000FDu);  // STATUS_STACK_OVERFLOW
  CloseHandle(thread);
  RemoveVectoredExceptionHandler(handler);
}

}  // namespace
