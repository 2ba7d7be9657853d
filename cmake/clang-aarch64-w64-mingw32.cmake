# Cross build of languagemonitor.dll for Windows on ARM (ARM64) with clang-16 and lld-16 over the
# mingw-w64 runtime that scripts/setup builds from Debian's source packages, and of the test
# programs that run it under Debian 13's arm64 Wine (tests/wine/wine-arm64.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(LANGMON_MINGW_TRIPLE aarch64-w64-mingw32)

# Where scripts/setup-arm64-toolchain keeps the runtime it built, in the order it chooses.
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
if(NOT LANGMON_ARM64_SYSROOT)
  foreach(folder IN LISTS candidates)
    if(EXISTS "${folder}/${LANGMON_MINGW_TRIPLE}/.complete")
      # The link, not its target: a build folder keeps working when setup builds anew.
      set(LANGMON_ARM64_SYSROOT "${folder}/${LANGMON_MINGW_TRIPLE}" CACHE PATH
          "mingw-w64 runtime for ARM64")
      break()
    endif()
  endforeach()
endif()
if(NOT LANGMON_ARM64_SYSROOT)
  message(FATAL_ERROR "no mingw-w64 runtime for ARM64 in ${candidates}: run scripts/setup")
endif()
if(NOT EXISTS "${LANGMON_ARM64_SYSROOT}/lib/libc++.a")
  message(FATAL_ERROR "the ARM64 runtime in ${LANGMON_ARM64_SYSROOT} has no C++ library yet: "
                      "run scripts/setup")
endif()
# try_compile() projects read this file again, without the cache.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LANGMON_ARM64_SYSROOT)

set(CMAKE_SYSROOT ${LANGMON_ARM64_SYSROOT})
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_RC_COMPILER llvm-windres-16)
foreach(language C CXX)
  set(CMAKE_${language}_COMPILER_TARGET ${LANGMON_MINGW_TRIPLE})
endforeach()
set(CMAKE_RC_FLAGS_INIT "--target=${LANGMON_MINGW_TRIPLE} -I${LANGMON_ARM64_SYSROOT}/include")

# The monitor's C++ headers are mingw-w64's libstdc++ (of the x64 compiler: they hold nothing of
# the processor, and libc++ 16 lacks std::atomic_ref); no C++ library is linked into it, so it
# uses only what lives in headers (cmake/windows.cmake applies these to the DLL alone).
file(GLOB LANGMON_LIBSTDCXX_HEADERS LIST_DIRECTORIES true
  /usr/lib/gcc/x86_64-w64-mingw32/*-win32/include/c++)
list(GET LANGMON_LIBSTDCXX_HEADERS -1 LANGMON_LIBSTDCXX_HEADERS)
set(LANGMON_MONITOR_CXX_OPTIONS -stdlib=libstdc++ -isystem${LANGMON_LIBSTDCXX_HEADERS}
    -isystem${LANGMON_LIBSTDCXX_HEADERS}/x86_64-w64-mingw32)  # joined: options are de-duplicated
# (-nostdlib++ leaves the test programs' -stdlib=libc++ unused: not worth a warning.)
set(LANGMON_MONITOR_LINK_OPTIONS -nostdlib++ -Wno-unused-command-line-argument)
# The test programs have the runtime's libc++, linked in statically. Its libgcc.a holds our own
# __chkstk (cmake/aarch64-w64-mingw32/chkstk.S) and compiler-rt's 128-bit division; there is no
# shared one to link (-static-libgcc).
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld-16 -static-libgcc")
endforeach()

set(CMAKE_FIND_ROOT_PATH ${LANGMON_ARM64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
