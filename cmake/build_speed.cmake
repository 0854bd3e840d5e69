# What makes the builds cheaper, in one place (docs/DECISIONS.md, "Build
# time", has the measurements). The top-level CMakeLists.txt calls
# langmon_speed_up_builds() once every target exists; the folders' own
# CMakeLists.txt know nothing of it.
#
# Precompiled headers: the third-party headers that most translation units
# of a target include, parsed once per target instead of once per file.
# GoogleTest and nlohmann-json cost 2 to 2.5 s of parsing each at -O0, CLI11
# 5 s. A build with LANGMON_PCH off compiles every file on its own includes
# alone; the release preset is such a build, so a shipped file that forgot an
# include still fails there.
#
# Not in the Windows builds: through a precompiled header, mingw-w64's GCC 12
# at -O2 reports a -Warray-bounds false alarm inside libstdc++'s string
# (tests/soak_monitor_test.cpp), which it keeps quiet as a system header's
# without one, and -Werror makes that a failed build.
option(LANGMON_PCH "Precompile the heavy third-party headers of the big Linux targets" ON)

# One row per target: the target, then the headers every one of its files
# gets. A target this build does not make is skipped.
set(LANGMON_PCH_TABLE
    "langmon_tests|<gtest/gtest.h>"
    "langmon_host_tests|<gtest/gtest.h>|<nlohmann/json.hpp>"
    "langmon|<nlohmann/json.hpp>|<fmt/format.h>"
    "langmon_host|<nlohmann/json.hpp>|<fmt/format.h>")

function(langmon_precompile_headers)
  foreach(row IN LISTS LANGMON_PCH_TABLE)
    string(REPLACE "|" ";" row "${row}")
    list(POP_FRONT row target)
    if(TARGET ${target})
      target_precompile_headers(${target} PRIVATE ${row})
    endif()
  endforeach()
endfunction()

function(langmon_speed_up_builds)
  if(LANGMON_PCH AND NOT WIN32)
    langmon_precompile_headers()
  endif()
endfunction()
