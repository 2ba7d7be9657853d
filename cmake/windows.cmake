# The real monitor: languagemonitor.dll, cross-built for Windows, and its tests under Wine.

enable_language(RC)

# Only the libraries named below are linked: the spooler functions must come from spoolss.dll
# (as for any component living inside the spooler), never from winspool.drv, which mingw's
# default library list would offer first.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# The version block takes its numbers from the project.
set(LANGMON_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(CONFIGURE OUTPUT ${LANGMON_GENERATED_DIR}/langmon_version.h CONTENT [[
/* Generated from the project version; read by the resource compiler. */
#define LANGMON_VERSION_MAJOR @PROJECT_VERSION_MAJOR@
#define LANGMON_VERSION_MINOR @PROJECT_VERSION_MINOR@
#define LANGMON_VERSION_PATCH @PROJECT_VERSION_PATCH@
#define LANGMON_VERSION_STRING "@PROJECT_VERSION@"
]] @ONLY)

add_library(languagemonitor SHARED
  ${LANGMON_MONITOR_SOURCES}
  ${CMAKE_SOURCE_DIR}/resources/languagemonitor.rc
  ${CMAKE_SOURCE_DIR}/resources/languagemonitor.def)
set_target_properties(languagemonitor PROPERTIES
  PREFIX ""
  OUTPUT_NAME languagemonitor
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_include_directories(languagemonitor PRIVATE ${CMAKE_SOURCE_DIR} ${LANGMON_GENERATED_DIR})
target_compile_options(languagemonitor PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${LANGMON_WARNINGS}>)
# A toolchain may build the DLL over other C++ headers than its test programs (ARM64 does).
target_compile_options(languagemonitor PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:${LANGMON_MONITOR_CXX_OPTIONS}>)
target_link_options(languagemonitor PRIVATE ${LANGMON_MONITOR_LINK_OPTIONS})
# Nothing in the monitor throws, and no exception may cross the spooler's calls: the DLL is built
# without them, so it needs no unwinder of the C++ runtime (ARM64 links none).
target_compile_options(languagemonitor PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions>)
# windres reports no header dependencies, so name them.
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/languagemonitor.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/texts.inc;${CMAKE_SOURCE_DIR}/resources/resource_ids.h;${LANGMON_GENERATED_DIR}/langmon_version.h")
# The spooler loads the DLL on its own: the compiler's runtime is linked in, so the DLL needs
# nothing but system DLLs.
target_link_options(languagemonitor PRIVATE -static -static-libgcc)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # The DLL that ships (clang and lld over our runtime, cmake/clang-mingw.cmake), hardened as
  # Windows' own review of a module inside the spooler asks:
  #  - Control Flow Guard: every indirect call is checked against the table of valid targets
  #    (the functions whose address is taken, the exports and the entry point), which lld writes
  #    with the load configuration from the runtime (cmake/mingw-runtime/load_config.c);
  #  - symbols in a PDB beside the DLL (CodeView: function names, types and line tables), named
  #    in the DLL's debug directory by its file name alone, so that no build folder is recorded;
  #    the DLL itself carries no DWARF and no symbol table;
  #  - on x86 the table of safe exception handlers, which lld checks every object can have and,
  #    as the DLL has none, marks "no SEH"; on x86 and x64 compatible with CET shadow stacks.
  target_compile_options(languagemonitor PRIVATE -mguard=cf -g -gcodeview)
  target_link_options(languagemonitor PRIVATE -mguard=cf -Wl,--pdb=
    "-Wl,-Xlink=-pdbaltpath:%_PDB%")
  if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
    target_link_options(languagemonitor PRIVATE -Wl,-Xlink=-cetcompat)
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(languagemonitor PRIVATE -Wl,-Xlink=-safeseh)
  endif()
  # With debug information, x86 code also gets DWARF frame descriptions, which lld keeps in the
  # DLL; the PDB has what a debugger needs, so they are taken out.
  find_program(LANGMON_LLVM_STRIP NAMES llvm-strip-16 llvm-strip REQUIRED)
  add_custom_command(TARGET languagemonitor POST_BUILD
    COMMAND ${LANGMON_LLVM_STRIP} --strip-debug $<TARGET_FILE:languagemonitor>)
else()
  # GCC's build, for its warnings: stripped, without a C++ library of its own to load.
  target_link_options(languagemonitor PRIVATE -static-libstdc++ $<$<CONFIG:Release>:-s>)
endif()
# On x86 the WINAPI entry points carry their stdcall decoration (_DllMain@12); the export names
# in the .def file are the undecorated ones the loader and the spooler look up.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(languagemonitor PRIVATE -Wl,--enable-stdcall-fixup)
  # Every x86 processor that current Windows runs on has SSE2; the job-data scan uses it.
  target_compile_options(languagemonitor PRIVATE -msse2)
endif()
target_link_libraries(languagemonitor PRIVATE spoolss kernel32 user32 advapi32 shell32)

if(BUILD_TESTING)
  add_subdirectory(tests/wine)
endif()
# The ARM64 DLL is not timed: under qemu its times would say nothing of an ARM64 machine.
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
  add_subdirectory(bench/wine)
endif()
