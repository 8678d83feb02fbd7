# Run-time defaults built into the sanitized programs. The end-to-end tests start the installer
# with a scrubbed environment, so ASAN_OPTIONS set around ctest never reaches it.
function(installer_sanitizer_defaults)
  foreach(target installer pkgtool unit_tests e2e_tests)
    if(TARGET ${target})
      target_sources(${target} PRIVATE "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/options.cpp")
    endif()
  endforeach()
  # The installer changes its root to the target system, where /proc is missing; the leak
  # check needs /proc at exit and would end every such run with a fatal error.
  if(TARGET installer)
    target_sources(installer PRIVATE "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/no_leak_check.cpp")
  endif()
endfunction()

if(INSTALLER_SANITIZE)
  cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL installer_sanitizer_defaults)
endif()
