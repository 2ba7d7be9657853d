# Shared part of the three Windows toolchain files (cmake/clang-<triple>.cmake): languagemonitor.dll
# and its test programs built by clang-16 and lld-16 over the mingw-w64 runtime that scripts/setup
# builds from Debian's source packages (scripts/setup-mingw-runtimes), for the target that
# LANGMON_MINGW_TRIPLE names.
set(CMAKE_SYSTEM_NAME Windows)

# Where scripts/setup-mingw-runtimes keeps the runtime it built, in the order it chooses.
set(candidates "")
if(DEFINED ENV{LANGMON_TOOLCHAIN_CACHE})
  list(APPEND candidates "$ENV{LANGMON_TOOLCHAIN_CACHE}")
endif()
list(APPEND candidates /opt/langmon-toolchains)
if(DEFINED ENV{XDG_CACHE_HOME})
  list(APPEND candidates "$ENV{XDG_CACHE_HOME}/langmon-toolchains")
endif()
if(DEFINED ENV{HOME})
  list(APPEND candidates "$ENV{HOME}/.cache/langmon-toolchains")
endif()
if(NOT LANGMON_MINGW_SYSROOT)
  foreach(folder IN LISTS candidates)
    if(EXISTS "${folder}/${LANGMON_MINGW_TRIPLE}/.complete")
      # The link, not its target: a build folder keeps working when setup builds anew.
      set(LANGMON_MINGW_SYSROOT "${folder}/${LANGMON_MINGW_TRIPLE}" CACHE PATH
          "mingw-w64 runtime for ${LANGMON_MINGW_TRIPLE}")
      break()
    endif()
  endforeach()
endif()
if(NOT LANGMON_MINGW_SYSROOT)
  message(FATAL_ERROR "no mingw-w64 runtime for ${LANGMON_MINGW_TRIPLE} in ${candidates}: "
                      "run scripts/setup")
endif()
if(NOT EXISTS "${LANGMON_MINGW_SYSROOT}/lib/libc++.a")
  message(FATAL_ERROR "the runtime in ${LANGMON_MINGW_SYSROOT} has no C++ library yet: "
                      "run scripts/setup")
endif()
# try_compile() projects read this file again, without the cache.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LANGMON_MINGW_SYSROOT)

set(CMAKE_SYSROOT ${LANGMON_MINGW_SYSROOT})
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_RC_COMPILER llvm-windres-16)
foreach(language C CXX)
  set(CMAKE_${language}_COMPILER_TARGET ${LANGMON_MINGW_TRIPLE})
endforeach()
set(CMAKE_RC_FLAGS_INIT "--target=${LANGMON_MINGW_TRIPLE} -I${LANGMON_MINGW_SYSROOT}/include")

# The monitor's C++ headers are mingw-w64's libstdc++ (libc++ 16 lacks std::atomic_ref), of the
# x86 compiler for x86 and of the x64 one for x64 and ARM64 (they hold nothing of the processor
# but the width of a pointer); no C++ library is linked into it, so it uses only what lives in
# headers (cmake/windows.cmake applies these to the DLL alone).
if(LANGMON_MINGW_TRIPLE STREQUAL "i686-w64-mingw32")
  set(headers_triple i686-w64-mingw32)
else()
  set(headers_triple x86_64-w64-mingw32)
endif()
file(GLOB LANGMON_LIBSTDCXX_HEADERS LIST_DIRECTORIES true
  /usr/lib/gcc/${headers_triple}/*-win32/include/c++)
list(GET LANGMON_LIBSTDCXX_HEADERS -1 LANGMON_LIBSTDCXX_HEADERS)
set(LANGMON_MONITOR_CXX_OPTIONS -stdlib=libstdc++ -isystem${LANGMON_LIBSTDCXX_HEADERS}
    -isystem${LANGMON_LIBSTDCXX_HEADERS}/${headers_triple})  # joined: options are de-duplicated
# (-nostdlib++ leaves the test programs' -stdlib=libc++ unused: not worth a warning.)
set(LANGMON_MONITOR_LINK_OPTIONS -nostdlib++ -Wno-unused-command-line-argument)
# The test programs have the runtime's libc++, linked in statically. Its libgcc.a is the compiler
# runtime (compiler-rt's builtins; for ARM64 our own __chkstk and compiler-rt's 128-bit
# division); there is no shared one to link (-static-libgcc).
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld-16 -static-libgcc")
endforeach()

set(CMAKE_FIND_ROOT_PATH ${LANGMON_MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# x86 and x64 test programs run under Wine, whose launcher starts 32- and 64-bit programs alike;
# ARM64's under ARM64 Wine through qemu (tests/wine/wine-arm64.sh).
if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "ARM64")
  find_program(LANGMON_WINE NAMES wine)
  if(LANGMON_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${LANGMON_WINE})
  endif()
endif()
