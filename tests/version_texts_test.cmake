# The version texts and the package version the build makes of a project version, and the
# versions whose texts would overflow VexaVersionInfo's buffers, which must stop the configure
# step. Usage: cmake -DSOURCE=<source tree> -P version_texts_test.cmake
set(script ${SOURCE}/src/frame/fotex_version.cmake)
file(STRINGS ${SOURCE}/include/fotex.h level REGEX "^#define FOTEX_API_LEVEL [0-9]+$")
string(REGEX MATCH "[0-9]+$" level "${level}")
if(level STREQUAL "")
  message(FATAL_ERROR "fotex.h defines no FOTEX_API_LEVEL")
endif()

set(failures 0)
# version | exit | what the output must hold
foreach(case
    "1.3.0|0|product 'Fotex 1.3', file '1.3.0.0', package 1.3.${level}"
    "1.3|0|product 'Fotex 1.3', file '1.3.0.0', package 1.3.${level}"
    "9.9.99|0|product 'Fotex 9.9', file '9.9.99.0', package 9.9.${level}"
    "1.10.0|1|'Fotex 1.10' needs 11 bytes"
    "10.0.0|1|'Fotex 10.0' needs 11 bytes"
    "1.3.100|0|file '1.3.100.0'"
    "1.3.1000|1|'1.3.1000.0' needs 11 bytes"
    "1.3.100000|1|'1.3.100000.0' needs 13 bytes")
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 version)
  list(GET fields 1 expected)
  list(GET fields 2 wanted)
  execute_process(COMMAND ${CMAKE_COMMAND} -DFOTEX_VERSION=${version} -P ${script}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    set(result 1)
  endif()
  string(REGEX REPLACE "[ \n]+" " " flat "${out}")
  string(FIND "${flat}" "${wanted}" at)
  if(NOT result EQUAL expected OR at EQUAL -1)
    message(SEND_ERROR "version ${version}: exit ${result}, expected ${expected} with \"${wanted}\"; got:\n${out}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
message(STATUS "version texts: 8 cases, ${failures} failed")
