# Checks what languagemonitor.dll asks of the system and offers to the spooler, from its PE
# headers (objdump -p):
#  - it imports from system DLLs only, so the spooler can load it with nothing beside it;
#    msvcrt.dll is the C runtime every mingw-built module uses and ships with Windows;
#  - the spooler's own functions come from spoolss.dll, not from winspool.drv;
#  - it exports exactly InitializePrintMonitor, InitializePrintMonitor2 and DllMain, undecorated;
#  - it is built for the architecture of its preset.
# Usage: cmake -DOBJDUMP=<objdump> -DDLL=<dll> -DEXPECT_PE32_PLUS=<ON|OFF> -P check-dll-interface.cmake
cmake_minimum_required(VERSION 3.25)

set(allowed_imports advapi32.dll kernel32.dll msvcrt.dll shell32.dll spoolss.dll user32.dll)
set(expected_exports DllMain InitializePrintMonitor InitializePrintMonitor2)

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump -p ${DLL} failed (${result})")
endif()
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")

set(failures "")
set(imports "")
set(exports "")
set(magic "")
set(export_dll_name "")
set(current_import "")
set(in_export_names FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^Magic[ \t]+([0-9a-fA-F]+)")
    set(magic ${CMAKE_MATCH_1})
  elseif(line MATCHES "^[ \t]*DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" current_import)
    list(APPEND imports ${current_import})
  elseif(line MATCHES "^[ \t]+[0-9a-fA-F]+[ \t]+[0-9]+[ \t]+([A-Za-z_][A-Za-z0-9_@]*)")
    # One imported function of the current DLL: "vma  hint  name".
    set(function ${CMAKE_MATCH_1})
    if(function MATCHES "^(OpenPrinterW|ClosePrinter|GetPrinterW|GetPrinterDriverW|SetJobW)$"
       AND NOT current_import STREQUAL "spoolss.dll")
      list(APPEND failures "${function} is imported from ${current_import}, not spoolss.dll")
    endif()
  elseif(line MATCHES "^Name[ \t]+[0-9a-fA-F]+[ \t]+(.+)$")
    set(export_dll_name ${CMAKE_MATCH_1})
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_export_names TRUE)
  elseif(in_export_names)
    if(line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
      list(APPEND exports ${CMAKE_MATCH_1})
    else()
      set(in_export_names FALSE)
    endif()
  endif()
endforeach()

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

if(EXPECT_PE32_PLUS)
  set(expected_magic 020b)
else()
  set(expected_magic 010b)
endif()
if(NOT magic STREQUAL expected_magic)
  list(APPEND failures "PE magic is '${magic}', expected ${expected_magic}")
endif()

message(STATUS "${DLL}")
message(STATUS "  imports: ${imports}")
message(STATUS "  exports: ${exports}")
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "languagemonitor.dll interface check failed:\n  ${text}")
endif()
