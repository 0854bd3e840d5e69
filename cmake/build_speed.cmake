# What makes the builds cheaper, in one place (docs/DECISIONS.md, "Build
# time", has the measurements). The top-level CMakeLists.txt calls
# langmon_speed_up_builds() once every target exists; the folders' own
# CMakeLists.txt know nothing of it.
#
# Precompiled headers: the third-party headers that most translation units
# of a target include, parsed once per target instead of once per file.
# GoogleTest and nlohmann-json cost 2 to 2.5 s of parsing each at -O0, CLI11
# 5 s. A build with LANGMON_PCH off compiles every file on its own includes
# alone, so a file that forgot an include fails there: the asan and tsan
# presets are such builds. They are clang's, and clang writes the build
# folder's path into a precompiled header, so a clone in another folder
# would find none of their objects in ccache; GCC's (native, release, mingw)
# are cached across folders.
#
# In the Windows builds only GoogleTest, for the monitor's suite. There,
# through a precompiled header, mingw-w64's GCC 12 at -O2 reports
# -Warray-bounds false alarms inside libstdc++'s string that it keeps quiet
# as a system header's without one: `std::string(where) + "..."` in a
# function inlined into a thread did it, so the soak test appends instead.
option(LANGMON_PCH "Precompile the heavy third-party headers of the big targets" ON)

# One row per target: the target, then the headers every one of its files
# gets. A target this build does not make is skipped. The Windows builds
# have the monitor's suite alone (`langmon` is the DLL there).
set(LANGMON_PCH_TABLE
    "langmon_tests|<gtest/gtest.h>"
    "langmon_host_tests|<gtest/gtest.h>|<nlohmann/json.hpp>"
    "langmon|<nlohmann/json.hpp>|<fmt/format.h>"
    "langmon_host|<nlohmann/json.hpp>|<fmt/format.h>")
set(LANGMON_PCH_TABLE_WINDOWS "langmon_tests|<gtest/gtest.h>")

function(langmon_precompile_headers)
  set(table ${LANGMON_PCH_TABLE})
  if(WIN32)
    set(table ${LANGMON_PCH_TABLE_WINDOWS})
  endif()
  foreach(row IN LISTS table)
    string(REPLACE "|" ";" row "${row}")
    list(POP_FRONT row target)
    if(TARGET ${target})
      target_precompile_headers(${target} PRIVATE ${row})
    endif()
  endforeach()
endfunction()

function(langmon_speed_up_builds)
  if(LANGMON_PCH)
    langmon_precompile_headers()
  endif()
endfunction()
