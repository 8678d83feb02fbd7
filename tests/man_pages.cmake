# The manual pages cannot drift from the programs: every option literal of the installer's option
# scan and every option and command of pkgtool must stand in its page (in roff, "-" is "\-"),
# and groff must find nothing to warn about. Run as: cmake -DSOURCE=<tree> -P man_pages.cmake
function(check_page page source pattern)
  file(READ "${SOURCE}/${source}" code)
  file(READ "${SOURCE}/${page}" roff)
  string(REGEX MATCHALL "${pattern}" literals "${code}")
  list(LENGTH literals count)
  if(count LESS 3)
    message(FATAL_ERROR "${source}: found only ${count} option literals; the check is broken")
  endif()
  foreach(literal IN LISTS literals)
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\"$" "\\1" word "${literal}")
    string(REPLACE "-" "\\-" escaped "${word}")
    # The word must not go on with a letter or a hyphen ("\-r" is not "\-reinstall").
    string(REGEX REPLACE "([][.*+?^$\\\\])" "\\\\\\1" quoted "${escaped}")
    if(NOT roff MATCHES "${quoted}([^a-z\\\\-]|$)")
      message(SEND_ERROR "${page} does not list ${word} (from ${source})")
    endif()
  endforeach()
  find_program(GROFF groff)
  if(GROFF)
    execute_process(COMMAND ${GROFF} -man -ww -z "${SOURCE}/${page}"
                    ERROR_VARIABLE warnings RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
      message(SEND_ERROR "groff on ${page}: ${warnings}")
    endif()
  endif()
endfunction()

check_page(docs/installer.8 src/cli/options.cpp "arg == \"-[^\"]*\"")
check_page(docs/pkgtool.1 tools/pkgtool/main.cpp
           "(==|args\\[i\\] ==) \"(-[^\"]*|[a-z]+)\"")
