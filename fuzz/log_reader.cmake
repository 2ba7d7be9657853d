# langmon-report's log reader among the fuzz targets, where the tools are built (the aarch64
# Linux build has none). The loops of fuzz/CMakeLists.txt make its target; once they have, it is
# linked with the reader's library.
if(TARGET langmon_report)
  list(APPEND LANGMON_FUZZ_TARGETS log_reader)
  function(langmon_link_log_reader_fuzzer)
    foreach(target fuzz_log_reader fuzz_log_reader_replay)
      if(TARGET ${target})
        target_link_libraries(${target} PRIVATE langmon_report)
      endif()
    endforeach()
  endfunction()
  cmake_language(DEFER CALL langmon_link_log_reader_fuzzer)
endif()
