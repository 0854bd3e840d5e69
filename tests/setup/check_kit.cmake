# Builds the kit with CPack into a scratch folder and checks it:
#
#   cmake -DCPACK=<cpack> -DCONFIG=<CPackConfig.cmake> -DOUT=<folder> -DKIT=<name>
#         -DSOURCE=<source tree> -DOBJDUMP=<objdump> -DEXPORTS=<a;b> -DFUNCTIONS=<a;b>
#         -P check_kit.cmake
#
#   - OUT/KIT.zip holds exactly KIT/ with langmon.dll, langmon-setup.exe,
#     WINDOWS.txt, CHANGES.txt and LICENSE.txt;
#   - the texts are docs/WINDOWS.md, CHANGES.md, and LICENSE followed by
#     LICENSE-RUNTIME (an empty line between), with CR LF line ends;
#   - the DLL in the kit passes the export/import check and the direct-call
#     check (tests/dll), as the DLL of the build does.
# The ZIP stays in OUT for the test that installs from it.
cmake_minimum_required(VERSION 3.25)

foreach(var CPACK CONFIG OUT KIT SOURCE OBJDUMP EXPORTS FUNCTIONS)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_kit: ${var} is not set")
  endif()
endforeach()

set(problems "")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")
execute_process(COMMAND "${CPACK}" -G ZIP --config "${CONFIG}" -B "${OUT}"
                OUTPUT_VARIABLE log ERROR_VARIABLE log RESULT_VARIABLE rc)
set(zip "${OUT}/${KIT}.zip")
if(NOT rc EQUAL 0 OR NOT EXISTS "${zip}")
  message(FATAL_ERROR "check_kit: cpack did not make ${zip} (${rc}):\n${log}")
endif()
file(SIZE "${zip}" size)
message(STATUS "${zip}: ${size} bytes")

# Exactly the named files, under the kit's own folder.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf "${zip}" OUTPUT_VARIABLE listing
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_kit: cannot list ${zip}")
endif()
string(REPLACE "\n" ";" entries "${listing}")
list(FILTER entries EXCLUDE REGEX "(^$|/$)")
list(SORT entries)
set(expected "${KIT}/CHANGES.txt;${KIT}/LICENSE.txt;${KIT}/WINDOWS.txt;${KIT}/langmon-setup.exe"
             "${KIT}/langmon.dll")
list(SORT expected)
message(STATUS "entries: ${entries}")
if(NOT entries STREQUAL expected)
  list(APPEND problems "the ZIP holds [${entries}], expected [${expected}]")
endif()

set(unpacked "${OUT}/unpacked")
file(MAKE_DIRECTORY "${unpacked}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${zip}" WORKING_DIRECTORY "${unpacked}"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_kit: cannot unpack ${zip}")
endif()
set(kit "${unpacked}/${KIT}")

# The texts: the sources with CR LF line ends, nothing else changed.
foreach(pair "docs/WINDOWS.md=WINDOWS.txt" "CHANGES.md=CHANGES.txt"
             "LICENSE+LICENSE-RUNTIME=LICENSE.txt")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 sources)
  list(GET pair 1 name)
  if(NOT EXISTS "${kit}/${name}")
    continue()
  endif()
  string(REPLACE "+" ";" sources "${sources}")
  set(want "")
  foreach(source ${sources})
    file(READ "${SOURCE}/${source}" part HEX)
    if(NOT want STREQUAL "")
      string(APPEND want "0a")
    endif()
    string(APPEND want "${part}")
  endforeach()
  set(source "${sources}")
  file(READ "${kit}/${name}" got HEX)
  # 0a -> 0d0a, on byte boundaries (a hex string holds two digits a byte).
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\1 " want "${want}")
  string(REPLACE "0a " "0d 0a " want "${want}")
  string(REPLACE " " "" want "${want}")
  if(NOT got STREQUAL want)
    list(APPEND problems "${name} is not ${source} with CR LF line ends")
  endif()
endforeach()

# The shipped DLL passes the checks the build's DLL passes.
get_filename_component(checks "${CMAKE_CURRENT_LIST_DIR}/../dll" ABSOLUTE)
function(check_kit_dll script variable value)
  execute_process(COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} "-DDLL=${kit}/langmon.dll"
                          "-D${variable}=${value}" -P "${checks}/${script}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    set(problems ${problems} "the kit's langmon.dll fails ${script}:\n${out}" PARENT_SCOPE)
  endif()
endfunction()
check_kit_dll(check_dll.cmake EXPORTS "${EXPORTS}")
check_kit_dll(check_direct_calls.cmake FUNCTIONS "${FUNCTIONS}")

if(problems)
  foreach(problem IN LISTS problems)
    message(STATUS "FAIL ${problem}")
  endforeach()
  message(FATAL_ERROR "check_kit: ${zip} is not as it should be")
endif()
message(STATUS "check_kit: ${zip} holds the kit")
