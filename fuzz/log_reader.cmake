# langmon-report's log reader among the fuzz targets, where the tools are built (the aarch64
# Linux build has none). The loops of fuzz/CMakeLists.txt make its target; once they have, it is
# linked with the reader's library.
if(TARGET langmon_report)
  list(APPEND LANGMON_FUZZ_TARGETS log_reader)
  if(NOT LANGMON_FUZZ_REPLAY)
    # The reader and its page are what is explored, not the standard library under them: its
    # functions, instantiated in every file, are left without coverage (their comparisons are of
    # sizes, their loops count every new length as new behaviour). So is the harness, whose loops
    # run over every character of the texts and of both pages.
    set(ignorelist ${CMAKE_CURRENT_LIST_DIR}/standard_library.ignorelist)
    target_compile_options(langmon_report PRIVATE -fsanitize-coverage-ignorelist=${ignorelist})
    get_target_property(report_sources langmon_report SOURCES)
    list(TRANSFORM report_sources PREPEND ${CMAKE_SOURCE_DIR}/tools/)
    set_property(SOURCE ${report_sources} DIRECTORY ${CMAKE_SOURCE_DIR}/tools APPEND
                 PROPERTY OBJECT_DEPENDS ${ignorelist})
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/log_reader_fuzz.cpp
                                PROPERTIES COMPILE_OPTIONS -fno-sanitize=fuzzer-no-link)
    # The page's comparisons are of the counts, kinds and texts that the reader made, not of the
    # log's bytes: only its edges are counted. Traced, they cost a call for every character it
    # escapes and every number it writes.
    set(page_sources page.cpp html.cpp utf8.cpp ink_chart.cpp)
    list(TRANSFORM page_sources PREPEND ${CMAKE_SOURCE_DIR}/tools/langmon-report/)
    set_source_files_properties(${page_sources} DIRECTORY ${CMAKE_SOURCE_DIR}/tools
                                PROPERTIES COMPILE_OPTIONS -fno-sanitize-coverage=trace-cmp)
  endif()
  function(langmon_link_log_reader_fuzzer)
    foreach(target fuzz_log_reader fuzz_log_reader_replay)
      if(TARGET ${target})
        target_link_libraries(${target} PRIVATE langmon_report)
      endif()
    endforeach()
  endfunction()
  cmake_language(DEFER CALL langmon_link_log_reader_fuzzer)
endif()
