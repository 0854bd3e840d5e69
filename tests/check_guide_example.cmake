# The INF fragment that docs/WINDOWS.md shows is examples/langmon-driver.inf,
# byte for byte, as one ```ini block (the kit carries only the guide, the
# source tree the file; the test in tests/setup parses the file):
#
#   cmake -DGUIDE=docs/WINDOWS.md -DEXAMPLE=examples/langmon-driver.inf -P check_guide_example.cmake
cmake_minimum_required(VERSION 3.25)
file(READ "${GUIDE}" guide)
file(READ "${EXAMPLE}" example)
string(FIND "${guide}" "```ini\n${example}```\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${GUIDE} does not show ${EXAMPLE} as it is in one ```ini block")
endif()
message(STATUS "${GUIDE} shows ${EXAMPLE} at offset ${at}")
