# Checks the export and import tables of a built DLL with objdump:
#
#   cmake -DOBJDUMP=<objdump> -DDLL=<file.dll> -DEXPORTS=<name;name> -P check_dll.cmake
#
# The DLL must export by name exactly EXPORTS (undecorated, nothing by ordinal
# only) and import only from system DLLs. The compiler's runtime DLLs
# (libwinpthread-1.dll, libstdc++-6.dll, libgcc_s_*.dll) in particular must
# not appear: the spooler would not find them beside the monitor. Every
# problem is reported, one line each, before the check fails.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP DLL EXPORTS)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_dll: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "check_dll: ${DLL} does not exist")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}" OUTPUT_VARIABLE dump ERROR_VARIABLE dump_err
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_dll: ${OBJDUMP} -p ${DLL} failed (${rc}): ${dump_err}")
endif()

# System DLLs the monitor may import (compared in lower case).
set(allowed_imports kernel32.dll msvcrt.dll winspool.drv advapi32.dll ntdll.dll)
set(allowed_import_pattern "^api-ms-win-.*\\.dll$")

set(problems "")
set(exports "")
set(imports "")
set(export_count "")
set(in_names FALSE)

string(REPLACE ";" "\\;" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*DLL Name:[ \t]*(.+)$")
    string(STRIP "${CMAKE_MATCH_1}" name)
    list(APPEND imports "${name}")
  elseif(line MATCHES "\\[Name Pointer/Ordinal\\] Table[ \t]+([0-9A-Fa-f]+)")
    # "Number in: [Name Pointer/Ordinal] Table" gives the count of named exports.
    set(export_count "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names)
    if(line MATCHES "^[ \t]*\\[[ \t]*[0-9]+\\][ \t]+([^ \t]+)[ \t]*$")
      list(APPEND exports "${CMAKE_MATCH_1}")
    else()
      set(in_names FALSE)
    endif()
  endif()
endforeach()

# Exports: exactly the expected names, each once.
set(expected ${EXPORTS})
foreach(name IN LISTS exports)
  list(FIND expected "${name}" at)
  if(at EQUAL -1)
    list(APPEND problems "unexpected export: ${name}")
  endif()
endforeach()
foreach(name IN LISTS expected)
  list(FIND exports "${name}" at)
  if(at EQUAL -1)
    list(APPEND problems "missing export: ${name}")
  endif()
endforeach()
list(LENGTH exports named)
list(LENGTH expected wanted)
if(named GREATER wanted)
  list(APPEND problems "${named} named exports, expected ${wanted}")
endif()
if(NOT export_count STREQUAL "")
  math(EXPR declared "0x${export_count}")
  if(NOT declared EQUAL named)
    list(APPEND problems "export table declares ${declared} names, objdump listed ${named}")
  endif()
endif()

# Imports: system DLLs only.
if(NOT imports)
  list(APPEND problems "no import table found (objdump output not understood?)")
endif()
foreach(name IN LISTS imports)
  string(TOLOWER "${name}" lower)
  list(FIND allowed_imports "${lower}" at)
  if(at EQUAL -1 AND NOT lower MATCHES "${allowed_import_pattern}")
    list(APPEND problems "import from a DLL that is not a system DLL: ${name}")
  endif()
endforeach()

message(STATUS "exports: ${exports}")
message(STATUS "imports: ${imports}")
if(problems)
  foreach(problem IN LISTS problems)
    message(STATUS "FAIL ${problem}")
  endforeach()
  message(FATAL_ERROR "check_dll: ${DLL} failed the export/import check")
endif()
message(STATUS "check_dll: ${DLL} exports and imports are as expected")
