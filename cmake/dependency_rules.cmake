# What each folder's libraries and programs may link, checked at configure
# time once every target exists (docs/ARCHITECTURE.md states the rules).
#
#   langmon_check_links(TARGET <t> [ALONE | ALLOW <project targets...>]
#                       [FORBID <names or regexes...>])
#
# The link closure of <t> is every library it links, directly or through
# other targets of this project (static libraries' private links count: they
# end up in the program). With ALLOW, every target of this project in the
# closure must be listed (libraries from outside the project, such as fmt or
# Threads, are not this rule's business); ALONE allows none. FORBID names
# libraries that must not be in the closure at all. A target that this
# build does not make is skipped.

# Whether `item` is a library this project builds: not imported, and not
# one a third-party source tree (GoogleTest in cross builds) adds.
function(langmon_is_project_target item out)
  set(result FALSE)
  if(TARGET ${item})
    get_target_property(imported ${item} IMPORTED)
    get_target_property(dir ${item} SOURCE_DIR)
    cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${dir}" NORMALIZE inside)
    if(NOT imported AND inside)
      set(result TRUE)
    endif()
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# The closure of `target`, in `out`.
function(langmon_link_closure target out)
  set(seen "")
  set(pending ${target})
  while(pending)
    list(POP_FRONT pending item)
    if(item IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${item})
    langmon_is_project_target(${item} ours)
    if(NOT ours)
      continue()
    endif()
    set(links "")
    get_target_property(type ${item} TYPE)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${item} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface ${item} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    foreach(link IN LISTS links)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.+)>$" "\\1" link "${link}")
      if(NOT link MATCHES "^\\$<")
        list(APPEND pending ${link})
      endif()
    endforeach()
  endwhile()
  list(REMOVE_ITEM seen ${target})
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

# The rule violations of one target, as messages in `out` (empty: none).
function(langmon_link_violations out)
  cmake_parse_arguments(PARSE_ARGV 1 rule "ALONE" "TARGET" "ALLOW;FORBID")
  set(checkAllowed FALSE)
  if(rule_ALONE OR DEFINED rule_ALLOW)
    set(checkAllowed TRUE)
  endif()
  if(rule_ALONE)
    set(rule_ALLOW "")
  endif()
  string(REPLACE ";" ", " allowed "${rule_ALLOW}")
  set(violations "")
  langmon_link_closure(${rule_TARGET} closure)
  foreach(item IN LISTS closure)
    foreach(pattern IN LISTS rule_FORBID)
      if(item MATCHES "^${pattern}$")
        list(APPEND violations "${rule_TARGET} links ${item}, which it must not")
      endif()
    endforeach()
    langmon_is_project_target(${item} ours)
    if(checkAllowed AND ours)
      if(NOT item IN_LIST rule_ALLOW)
        list(APPEND violations "${rule_TARGET} links ${item}, beyond what it may: ${allowed}")
      endif()
    endif()
  endforeach()
  set(${out} "${violations}" PARENT_SCOPE)
endfunction()

function(langmon_check_links)
  cmake_parse_arguments(PARSE_ARGV 0 rule "ALONE" "TARGET" "ALLOW;FORBID")
  if(NOT TARGET ${rule_TARGET})
    return()
  endif()
  langmon_link_violations(violations ${ARGN})
  foreach(violation IN LISTS violations)
    message(SEND_ERROR "Dependency rule broken: ${violation}")
  endforeach()
endfunction()

# The check itself is checked: a made-up program that links a test library
# through a library of its own must be caught.
add_library(langmon_rule_probe_test INTERFACE)
add_library(langmon_rule_probe_lib INTERFACE)
target_link_libraries(langmon_rule_probe_lib INTERFACE langmon_rule_probe_test)
add_library(langmon_rule_probe_program INTERFACE)
target_link_libraries(langmon_rule_probe_program INTERFACE langmon_rule_probe_lib)
langmon_link_violations(probe TARGET langmon_rule_probe_program ALLOW langmon_rule_probe_lib
                        FORBID langmon_rule_probe_test)
list(LENGTH probe probeCount)
if(NOT probeCount EQUAL 2)
  message(FATAL_ERROR "The dependency check missed a forbidden link: ${probe}")
endif()
