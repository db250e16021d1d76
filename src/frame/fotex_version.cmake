# The version texts of Fotex.dll and the version of its CMake package, from one project version.
# Included by the top CMakeLists.txt; `cmake -DFOTEX_VERSION=1.10 -P fotex_version.cmake` shows
# what a version would give (the tests use it).
#
# VexaVersionInfo writes the product text ("Fotex 1.3") and the file version ("1.3.0.0") into
# host buffers of FOTEX_VERSION_BYTES each, terminator included: a version whose text would not
# fit stops the configure step here instead of overflowing a host's buffer.
# The package version is major.minor.L, L the API level (FOTEX_API_LEVEL): a host requires the
# functions it calls with find_package(Fotex 1.3.L), while the DLL's texts stay "1.3".

function(fotex_header_number name out)
  file(STRINGS ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../../include/fotex.h line REGEX "^#define ${name} [0-9]+$")
  string(REGEX MATCH "[0-9]+$" number "${line}")
  if(number STREQUAL "")
    message(FATAL_ERROR "include/fotex.h defines no ${name}")
  endif()
  set(${out} ${number} PARENT_SCOPE)
endfunction()

function(fotex_version_texts version)
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)(\\.([0-9]+))?$")
    message(FATAL_ERROR "Fotex version '${version}' is not major.minor[.patch]")
  endif()
  set(major ${CMAKE_MATCH_1})
  set(minor ${CMAKE_MATCH_2})
  set(patch 0)
  if(NOT "${CMAKE_MATCH_4}" STREQUAL "")
    set(patch ${CMAKE_MATCH_4})
  endif()
  fotex_header_number(FOTEX_VERSION_BYTES bytes)
  fotex_header_number(FOTEX_API_LEVEL level)
  set(product "Fotex ${major}.${minor}")
  set(file "${major}.${minor}.${patch}.0")
  foreach(text IN ITEMS "${product}" "${file}")
    string(LENGTH "${text}" length)
    math(EXPR needed "${length} + 1")
    if(needed GREATER bytes)
      message(FATAL_ERROR "Fotex version ${version}: VexaVersionInfo's text '${text}' needs ${needed} bytes, "
                          "but its buffers hold FOTEX_VERSION_BYTES (${bytes}), as fotex.h documents to hosts. "
                          "Choose a version whose texts fit.")
    endif()
  endforeach()
  set(FOTEX_VERSION_MAJOR ${major} PARENT_SCOPE)
  set(FOTEX_VERSION_MINOR ${minor} PARENT_SCOPE)
  set(FOTEX_VERSION_PATCH ${patch} PARENT_SCOPE)
  set(FOTEX_VERSION_PRODUCT "${product}" PARENT_SCOPE)
  set(FOTEX_VERSION_FILE "${file}" PARENT_SCOPE)
  set(FOTEX_API_LEVEL ${level} PARENT_SCOPE)
  set(FOTEX_PACKAGE_VERSION ${major}.${minor}.${level} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  fotex_version_texts("${FOTEX_VERSION}")
  message("product '${FOTEX_VERSION_PRODUCT}', file '${FOTEX_VERSION_FILE}', package ${FOTEX_PACKAGE_VERSION}")
endif()
