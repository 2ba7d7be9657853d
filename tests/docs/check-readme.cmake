# The READMEs' examples and paths, held against a fresh build:
# - the scenario example of README.md is the file tools/langmon-sim/scenarios/readme_example.json,
#   and (given LANGMON_SIM) langmon-sim runs it to the end it expects (exit status 0);
# - every path of the source tree that README.md and packaging/README.md name exists, and so does
#   every path below build/PRESET/ they name, after this preset's build.
#   cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DPRESET=native [-DLANGMON_SIM=...] -P check-readme.cmake

cmake_minimum_required(VERSION 3.25)

set(failures "")

file(READ ${SOURCE_DIR}/README.md readme)

# The first ```json block after "### Scenario files".
set(example_file ${SOURCE_DIR}/tools/langmon-sim/scenarios/readme_example.json)
string(FIND "${readme}" "### Scenario files" at)
if(at LESS 0)
  string(APPEND failures "README.md has no section \"### Scenario files\"\n")
else()
  string(SUBSTRING "${readme}" ${at} -1 section)
  string(FIND "${section}" "```json\n" start)
  if(start LESS 0)
    string(APPEND failures "README.md's \"Scenario files\" shows no JSON example\n")
  else()
    math(EXPR start "${start} + 8")
    string(SUBSTRING "${section}" ${start} -1 section)
    string(FIND "${section}" "```" end)
    string(SUBSTRING "${section}" 0 ${end} shown)
    file(READ ${example_file} kept)
    if(NOT shown STREQUAL kept)
      string(APPEND failures
        "README.md's scenario example differs from ${example_file}: keep them the same\n")
    endif()
  endif()
endif()

if(LANGMON_SIM)
  set(work ${BINARY_DIR}/readme-example)
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env TMPDIR=${work}
            ${LANGMON_SIM} --batch --no-color --scenario ${example_file}
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    string(APPEND failures "langmon-sim --scenario ${example_file}: exit status ${status}\n${output}\n")
  endif()
endif()

# Paths: words that begin with a folder of the repository. Placeholders (<...>, DIR) end a path
# where they begin; build folders of other presets are not this build's to check.
set(folders build bench cmake diag docs fuzz monitor packaging platform prepare printer records resources
            scripts settings sim tests tools)
list(JOIN folders "|" folders)
set(checked "")
foreach(doc README.md packaging/README.md)
  file(READ ${SOURCE_DIR}/${doc} text)
  string(REGEX MATCHALL "(^|[\n =`(\"'])(${folders})/[A-Za-z0-9_./+-]*" words "${text}")
  foreach(word IN LISTS words)
    string(REGEX REPLACE "^[\n =`(\"']" "" path "${word}")
    string(REGEX REPLACE "[.]+$" "" path "${path}")
    if(path IN_LIST checked)
      continue()
    endif()
    list(APPEND checked ${path})
    if(path MATCHES "^build/")
      if(NOT path MATCHES "^build/${PRESET}(/|$)")
        continue()
      endif()
      string(REGEX REPLACE "^build/${PRESET}" "${BINARY_DIR}" where "${path}")
    else()
      set(where ${SOURCE_DIR}/${path})
    endif()
    if(NOT EXISTS ${where})
      string(APPEND failures "${doc} names ${path}, which does not exist\n")
    endif()
  endforeach()
endforeach()

list(LENGTH checked count)
if(LANGMON_DOCS_VERBOSE)
  message(STATUS "paths: ${checked}")
endif()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
message(STATUS "README example and ${count} path(s) checked")
