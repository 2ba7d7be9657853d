// __chkstk for Windows on ARM64, which clang's code and the mingw-w64 runtime call before they
// move the stack pointer down by more than a page at once (there is no compiler runtime for this
// target in Debian to bring one). Windows commits a thread's stack one guard page at a time, so
// every page of the new frame must be touched in order from the top, down to the page that will
// hold the new stack pointer, or an access beyond the guard page faults.
//
// The ARM64 convention: x15 holds the size of the frame in units of 16 bytes; the caller
// subtracts it from sp itself afterwards. Only x16, x17 and the flags may be changed.
        .text
        .globl  __chkstk
        .def    __chkstk
        .scl    2
        .type   32
        .endef
        .p2align 2
__chkstk:
        lsl     x16, x15, #4            // the frame's size in bytes
        mov     x17, sp
1:
        sub     x17, x17, #0x1000       // a page further down
        ldr     xzr, [x17]              // the touch that moves the guard page on
        subs    x16, x16, #0x1000
        b.gt    1b                      // until the page holding the frame's bottom is touched,
        ret                             // so that a callee's small frame reaches the guard page
