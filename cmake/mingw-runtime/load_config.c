/* The load configuration of every module linked over our mingw-w64 runtime, and the pointers
 * through which code compiled with -mguard=cf makes its indirect calls. The runtime of this
 * mingw-w64 version has neither, and Windows treats a module without a load configuration as one
 * without Control Flow Guard, whatever its header says.
 *
 * The pointers start at a check that lets every target through, so that a module runs alike
 * where the guard is not enforced (Wine, older Windows); where it is, the loader points them at
 * its own check against the module's table of valid targets, which lld builds (--guard-cf) from
 * the objects' .gfids sections, the exports and the entry point, and names by the __guard_*
 * symbols below. They live in .00cfg, a read-only section of their own: the loader writes them
 * before the module runs; nothing can after.
 *
 * Added to the runtime's libmingw32.a: lld takes _load_config_used from it for every module.
 * The assembly is laid out line by line, as the assembler reads it. */
/* clang-format off */

/* The checks a module starts with: accept the target (x86, x64 and ARM64 alike), and on x64, where
 * calls go through the dispatch pointer with the target in rax, call it. */
#if defined(__x86_64__)
#define POINTER ".quad "
#define SYMBOL(name) #name
__asm__(".text\n"
        ".globl __guard_check_icall_nop\n"
        "__guard_check_icall_nop:\n"
        "  ret\n"
        ".globl __guard_dispatch_icall_nop\n"
        "__guard_dispatch_icall_nop:\n"
        "  jmp *%rax\n");
#elif defined(__i386__)
#define POINTER ".long "
#define SYMBOL(name) "_" #name
__asm__(".text\n"
        ".globl ___guard_check_icall_nop\n"
        "___guard_check_icall_nop:\n"
        "  ret\n");
#elif defined(__aarch64__)
#define POINTER ".quad "
#define SYMBOL(name) #name
__asm__(".text\n"
        ".globl __guard_check_icall_nop\n"
        ".p2align 2\n"
        "__guard_check_icall_nop:\n"
        "  ret\n");
#else
#error "no Control Flow Guard support for this processor"
#endif

/* Where code compiled with -mguard=cf calls through. x86 and ARM64 call the check, then the
 * target; x64 calls the dispatch, which calls the target itself. */
__asm__(".section .00cfg,\"dr\"\n"
        ".p2align 3\n"
        ".globl " SYMBOL(__guard_check_icall_fptr) "\n"
        SYMBOL(__guard_check_icall_fptr) ":\n"
        "  " POINTER SYMBOL(__guard_check_icall_nop) "\n"
        ".globl " SYMBOL(__guard_dispatch_icall_fptr) "\n"
        SYMBOL(__guard_dispatch_icall_fptr) ":\n"
#if defined(__x86_64__)
        "  " POINTER "__guard_dispatch_icall_nop\n"
#else
        "  " POINTER "0\n"
#endif
);

/* IMAGE_LOAD_CONFIG_DIRECTORY32 and 64 as the PE format lays them out, up to the EH continuation
 * table (this runtime's winnt.h stops at the safe exception handlers). The __guard_* and
 * __safe_se_handler_* symbols are lld's: the tables it built and, as absolute symbols, their
 * counts and the flags that say what it built. GuardFlags is 32 bits of an absolute symbol,
 * which C cannot write on a 64-bit target, so the structure is written out here. */
#if defined(__i386__)
#define SAFE_SE_HANDLERS                               \
  "  .long ___safe_se_handler_table\n" /* SEHandlerTable */ \
  "  .long ___safe_se_handler_count\n" /* SEHandlerCount */
#define SIZE "172"
#else
#define SAFE_SE_HANDLERS "  .quad 0\n  .quad 0\n"
#define SIZE "280"
#endif
__asm__(".section .rdata,\"dr\"\n"
        ".p2align 3\n"
        ".globl " SYMBOL(_load_config_used) "\n"
        SYMBOL(_load_config_used) ":\n"
        "  .long " SIZE "\n"                    /* Size */
        "  .long 0\n"                           /* TimeDateStamp */
        "  .short 0, 0\n"                       /* MajorVersion, MinorVersion */
        "  .long 0, 0, 0\n"                     /* GlobalFlagsClear, GlobalFlagsSet,
                                                   CriticalSectionDefaultTimeout */
        "  " POINTER "0, 0, 0, 0, 0, 0\n"       /* DeCommitFreeBlockThreshold ...
                                                   ProcessAffinityMask */
        "  .long 0\n"                           /* ProcessHeapFlags */
        "  .short 0, 0\n"                       /* CSDVersion, DependentLoadFlags */
        "  " POINTER "0, 0\n"                   /* EditList, SecurityCookie */
        SAFE_SE_HANDLERS
        "  " POINTER SYMBOL(__guard_check_icall_fptr) "\n"
        "  " POINTER SYMBOL(__guard_dispatch_icall_fptr) "\n"
        "  " POINTER SYMBOL(__guard_fids_table) "\n"
        "  " POINTER SYMBOL(__guard_fids_count) "\n"
        "  .long " SYMBOL(__guard_flags) "\n"   /* GuardFlags */
        "  .short 0, 0\n"                       /* CodeIntegrity: Flags, Catalog, */
        "  .long 0, 0\n"                        /*   CatalogOffset, Reserved */
        "  " POINTER SYMBOL(__guard_iat_table) "\n"
        "  " POINTER SYMBOL(__guard_iat_count) "\n"
        "  " POINTER SYMBOL(__guard_longjmp_table) "\n"
        "  " POINTER SYMBOL(__guard_longjmp_count) "\n"
        "  " POINTER "0, 0, 0, 0\n"             /* DynamicValueRelocTable, CHPEMetadataPointer,
                                                   GuardRFFailureRoutine(FunctionPointer) */
        "  .long 0\n"                           /* DynamicValueRelocTableOffset */
        "  .short 0, 0\n"                       /* DynamicValueRelocTableSection, Reserved2 */
        "  " POINTER "0\n"                      /* GuardRFVerifyStackPointerFunctionPointer */
        "  .long 0, 0\n"                        /* HotPatchTableOffset, Reserved3 */
        "  " POINTER "0, 0\n"                   /* EnclaveConfiguration-, VolatileMetadataPointer */
        "  " POINTER SYMBOL(__guard_eh_cont_table) "\n"
        "  " POINTER SYMBOL(__guard_eh_cont_count) "\n");
/* clang-format on */
