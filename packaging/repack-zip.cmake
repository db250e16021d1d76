# Run by CPack once the zip is made: makes it again from the staged files with `zip`, in sorted
# order, every entry at one time and without the owner and inode-change fields that CPack's
# writer stores, so that the zip depends neither on when nor where the kit was built. The time
# is SOURCE_DATE_EPOCH when set, else that of the last commit, else (sources without their git
# history) the earliest a zip can hold, 1980-01-01.
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  execute_process(COMMAND git -C "${CPACK_FOTEX_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  set(epoch 315532800)
endif()
get_filename_component(staging "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${staging}" "${CPACK_TEMPORARY_DIRECTORY}/*")
get_filename_component(top "${CPACK_TEMPORARY_DIRECTORY}" NAME)
list(APPEND entries "${top}")
list(SORT entries)
list(JOIN entries "\n" listing)
file(WRITE "${staging}/zip-entries.txt" "${listing}\n")
execute_process(COMMAND touch -h -d @${epoch} ${entries} WORKING_DIRECTORY "${staging}" COMMAND_ERROR_IS_FATAL ANY)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(REMOVE "${package}")
  # zip stores local time: UTC keeps the entries' time the same on every machine.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -q -X -@ "${package}"
                  INPUT_FILE "${staging}/zip-entries.txt" WORKING_DIRECTORY "${staging}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
