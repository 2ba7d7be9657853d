# Checks what languagemonitor.dll asks of the system and offers to the spooler, from its PE
# headers, read with llvm-readobj (which reads the x86, x64 and ARM64 DLLs alike; the export
# directory's own name, which it does not show, with llvm-objdump -p):
#  - it is built for the processor of its preset (machine type and PE32 / PE32+);
#  - it imports from system DLLs only, so the spooler can load it with nothing beside it;
#    msvcrt.dll is the C runtime every mingw-built module uses and ships with Windows;
#  - the spooler's own functions come from spoolss.dll, not from winspool.drv;
#  - it exports exactly InitializePrintMonitor, InitializePrintMonitor2 and DllMain, undecorated,
#    under the DLL name languagemonitor.dll.
# Usage: cmake -DREADOBJ=<llvm-readobj> -DOBJDUMP=<llvm-objdump> -DDLL=<dll>
#              -DMACHINE=<x86|AMD64|ARM64> -P check-dll-interface.cmake
cmake_minimum_required(VERSION 3.25)

set(allowed_imports advapi32.dll kernel32.dll msvcrt.dll shell32.dll spoolss.dll user32.dll)
set(expected_exports DllMain InitializePrintMonitor InitializePrintMonitor2)
set(spooler_functions OpenPrinterW ClosePrinter GetPrinterW GetPrinterDriverW SetJobW)

if(MACHINE STREQUAL "x86")
  set(expected_machine "IMAGE_FILE_MACHINE_I386 (0x14C)")
  set(expected_magic 0x10B)
elseif(MACHINE STREQUAL "AMD64")
  set(expected_machine "IMAGE_FILE_MACHINE_AMD64 (0x8664)")
  set(expected_magic 0x20B)
elseif(MACHINE STREQUAL "ARM64")
  set(expected_machine "IMAGE_FILE_MACHINE_ARM64 (0xAA64)")
  set(expected_magic 0x20B)
else()
  message(FATAL_ERROR "unknown MACHINE '${MACHINE}'")
endif()

execute_process(
  COMMAND ${READOBJ} --file-headers --coff-imports --coff-exports ${DLL}
  OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${READOBJ} ${DLL} failed (${result})")
endif()
# One list element per line: brackets would join lines, so they become angle brackets first.
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "[" "<" dump "${dump}")
string(REPLACE "]" ">" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE private RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed (${result})")
endif()
set(export_dll_name "")
if(private MATCHES "Export Table:\n DLL name: ([^\n]*)\n")
  set(export_dll_name "${CMAKE_MATCH_1}")
endif()

set(failures "")
set(machine "")
set(magic "")
set(imports "")
set(exports "")
set(block "")
set(current_import "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line MATCHES "^(ImageFileHeader|ImageOptionalHeader|Import|Export) {$")
    set(block ${CMAKE_MATCH_1})
  elseif(line STREQUAL "}")
    set(block "")
  elseif(block STREQUAL "ImageFileHeader" AND line MATCHES "^Machine: (.+)$")
    set(machine "${CMAKE_MATCH_1}")
  elseif(block STREQUAL "ImageOptionalHeader" AND line MATCHES "^Magic: (.+)$")
    set(magic "${CMAKE_MATCH_1}")
  elseif(block STREQUAL "Import" AND line MATCHES "^Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" current_import)
    list(APPEND imports ${current_import})
  elseif(block STREQUAL "Import" AND line MATCHES "^Symbol: ([A-Za-z_][A-Za-z0-9_@]*)")
    if(CMAKE_MATCH_1 IN_LIST spooler_functions AND NOT current_import STREQUAL "spoolss.dll")
      list(APPEND failures "${CMAKE_MATCH_1} is imported from ${current_import}, not spoolss.dll")
    endif()
  elseif(block STREQUAL "Export" AND line MATCHES "^Name: (.+)$")
    list(APPEND exports "${CMAKE_MATCH_1}")
  endif()
endforeach()

if(NOT machine STREQUAL expected_machine)
  list(APPEND failures "machine is '${machine}', expected '${expected_machine}'")
endif()
if(NOT magic STREQUAL expected_magic)
  list(APPEND failures "PE magic is '${magic}', expected ${expected_magic}")
endif()

foreach(dll IN LISTS imports)
  if(NOT dll IN_LIST allowed_imports)
    list(APPEND failures "imports from ${dll}, which is not a system DLL the monitor may use")
  endif()
endforeach()
if(NOT "kernel32.dll" IN_LIST imports)
  list(APPEND failures "no import table found (kernel32.dll missing)")
endif()

list(SORT exports)
if(NOT exports STREQUAL expected_exports)
  list(APPEND failures "exports are '${exports}', expected '${expected_exports}'")
endif()
if(NOT export_dll_name STREQUAL "languagemonitor.dll")
  list(APPEND failures "export directory names '${export_dll_name}', expected languagemonitor.dll")
endif()

file(SIZE ${DLL} size)
message(STATUS "${DLL}: ${machine}, ${size} bytes")
message(STATUS "  imports: ${imports}")
message(STATUS "  exports: ${exports}")
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "languagemonitor.dll interface check failed:\n  ${text}")
endif()
