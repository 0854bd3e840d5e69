# Checks that a built DLL reaches some imported functions by direct calls
# only, with no copy of their addresses anywhere in the image:
#
#   cmake -DOBJDUMP=<objdump> -DDLL=<file.dll> -DFUNCTIONS=<name;name> -P check_direct_calls.cmake
#
# Each function in FUNCTIONS must be imported by name exactly once. Then:
#   code   every instruction that mentions the function's import address
#          table slot is a call or jump through the slot, and every
#          instruction that mentions one of its import stubs (the linker's
#          `jmp *slot`) is a call or jump to the stub. So no code loads the
#          function's address to store it in a table;
#   data   no section but the import table holds the address of the slot or
#          of a stub (a table filled at compile time);
#   names  no section but the import table holds the function's name (a
#          GetProcAddress lookup needs it).
# Sections without contents (.bss) can only be filled by code, which the code
# rule covers. The .debug_* sections are left out: the loader does not hand
# them to the code, and the kit strips them. The import table is the section
# objdump reports it in (.idata; mingw-w64's linker puts nothing else there).
# Every problem is reported, one line each, before the check fails.
cmake_minimum_required(VERSION 3.25)

foreach(var OBJDUMP DLL FUNCTIONS)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "check_direct_calls: ${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "check_direct_calls: ${DLL} does not exist")
endif()

function(objdump out)
  execute_process(COMMAND "${OBJDUMP}" ${ARGN} "${DLL}" OUTPUT_VARIABLE text ERROR_VARIABLE err
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "check_direct_calls: ${OBJDUMP} ${ARGN} ${DLL} failed (${rc}): ${err}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Splits text into a list of lines (semicolons kept as text).
function(to_lines text out)
  string(REPLACE ";" "\\;" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Lower-case hex of value without leading zeros, as objdump prints addresses.
function(hex value out)
  math(EXPR h "${value}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" h "${h}")
  set(${out} "${h}" PARENT_SCOPE)
endfunction()

# The bytes of a pointer-sized value as they lie in memory (little-endian),
# in the form file(READ ... HEX) gives.
function(pointer_bytes value size out)
  hex("${value}" h)
  math(EXPR digits "${size} * 2")
  string(LENGTH "${h}" n)
  while(n LESS digits)
    string(PREPEND h "0")
    math(EXPR n "${n} + 1")
  endwhile()
  set(bytes "")
  math(EXPR last "${size} - 1")
  foreach(i RANGE ${last})
    math(EXPR at "${digits} - 2 * (${i} + 1)")
    string(SUBSTRING "${h}" ${at} 2 byte)
    string(APPEND bytes "${byte}")
  endforeach()
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

# Byte offsets at which needle (hex) starts within haystack (hex).
function(byte_offsets haystack needle out)
  set(found "")
  set(base 0)
  while(TRUE)
    string(FIND "${haystack}" "${needle}" at)
    if(at EQUAL -1)
      break()
    endif()
    math(EXPR pos "${base} + ${at}")
    math(EXPR even "${pos} % 2")
    if(even EQUAL 0)
      math(EXPR byte "${pos} / 2")
      list(APPEND found ${byte})
    endif()
    math(EXPR skip "${at} + 1")
    string(SUBSTRING "${haystack}" ${skip} -1 haystack)
    set(base "${pos}")
    math(EXPR base "${base} + 1")
  endwhile()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(problems "")

# --- The import slots of the functions -------------------------------------

objdump(pe -p)
if(NOT pe MATCHES "\nImageBase[ \t]+([0-9a-fA-F]+)")
  message(FATAL_ERROR "check_direct_calls: no ImageBase in objdump -p output")
endif()
set(image_base "0x${CMAKE_MATCH_1}")
if(pe MATCHES "\nMagic[ \t]+020b")
  set(pointer_size 8)
elseif(pe MATCHES "\nMagic[ \t]+010b")
  set(pointer_size 4)
else()
  message(FATAL_ERROR "check_direct_calls: neither PE32 nor PE32+")
endif()
if(NOT pe MATCHES "The Import Tables \\(interpreted ([^ ]+) section contents\\)")
  message(FATAL_ERROR "check_direct_calls: no import table found")
endif()
set(import_section "${CMAKE_MATCH_1}")

# Each DLL's block starts with its directory entry, whose last field is the
# RVA of its first slot; the members follow in slot order.
to_lines("${pe}" lines)
set(first_slot "")
set(in_members FALSE)
foreach(fn IN LISTS FUNCTIONS)
  set(slots_${fn} "")
endforeach()
foreach(line IN LISTS lines)
  if(line MATCHES "^ [0-9a-f]+\t[0-9a-f]+ [0-9a-f]+ [0-9a-f]+ [0-9a-f]+ ([0-9a-f]+)$")
    set(first_slot "0x${CMAKE_MATCH_1}")
    set(index 0)
    set(in_members FALSE)
  elseif(line MATCHES "^\tvma: +Hint/Ord")
    set(in_members TRUE)
  elseif(in_members AND line MATCHES "^\t[0-9a-f]+\t(.*)$")
    string(REGEX REPLACE "^.*[ \t]" "" name "${CMAKE_MATCH_1}")
    if(name IN_LIST FUNCTIONS)
      math(EXPR slot "${image_base} + ${first_slot} + ${index} * ${pointer_size}")
      list(APPEND slots_${name} ${slot})
    endif()
    math(EXPR index "${index} + 1")
  else()
    set(in_members FALSE)
  endif()
endforeach()

set(slot_hex "")
foreach(fn IN LISTS FUNCTIONS)
  list(LENGTH slots_${fn} count)
  if(NOT count EQUAL 1)
    list(APPEND problems "${fn} is imported by name ${count} times, expected once")
    continue()
  endif()
  hex("${slots_${fn}}" h)
  set(owner_${h} "${fn}")
  list(APPEND slot_hex "${h}")
  message(STATUS "${fn}: import slot 0x${h}")
endforeach()

# --- Code ---------------------------------------------------------------------

objdump(code -d --no-show-raw-insn -w)
# A blank at the end of every line, so that an address that ends a line
# (i686 operands, and the RIP-relative targets of a stripped x86_64 DLL) has
# a character behind it like any other.
string(REPLACE "\n" " \n" code "${code}")
string(APPEND code " \n")

# Instructions (address; text) that mention one of the addresses, with hex
# digits on neither side of it.
function(mentions addresses out)
  string(JOIN "|" alternatives ${addresses})
  string(REGEX MATCHALL "\n *[0-9a-f]+:\t[^\n]*[^0-9a-f\n](${alternatives})[^0-9a-f\n][^\n]*"
         hits "${code}")
  set(${out} "${hits}" PARENT_SCOPE)
endfunction()

# Splits an instruction line into its address, mnemonic and operands; the
# prefixes objdump may print before the mnemonic are dropped.
macro(parse_instruction hit)
  string(REGEX MATCH "^\n *([0-9a-f]+):\t(.*)$" _ "${hit}")
  set(at "${CMAKE_MATCH_1}")
  set(text "${CMAKE_MATCH_2}")
  string(REGEX REPLACE "^((rex(\\.[WRXB]+)?|notrack|bnd|ds|cs) +)+" "" insn "${text}")
  string(REGEX MATCH "^([a-z0-9]+) *(.*)$" _ "${insn}")
  set(mnemonic "${CMAKE_MATCH_1}")
  set(operands "${CMAKE_MATCH_2}")
endmacro()

# Which of the addresses the instruction text names.
macro(named_address addresses)
  set(named "")
  foreach(a IN LISTS ${addresses})
    if(text MATCHES "(^|[^0-9a-f])${a}([^0-9a-f]|$)")
      set(named "${a}")
    endif()
  endforeach()
endmacro()

set(stub_hex "")
if(slot_hex)
  mentions("${slot_hex}" hits)
  foreach(hit IN LISTS hits)
    parse_instruction("${hit}")
    named_address(slot_hex)
    set(fn "${owner_${named}}")
    if(mnemonic MATCHES "^(call|jmp)[lqw]?$" AND operands MATCHES "^\\*")
      if(mnemonic MATCHES "^jmp")
        # A jump through the slot: the linker's import stub (or a tail call,
        # whose address is then held to the same rule).
        list(APPEND stub_hex "${at}")
        set(owner_${at} "${fn}")
      endif()
    else()
      list(APPEND problems "${fn}: code at 0x${at} uses the import slot other than to call it: ${text}")
    endif()
  endforeach()
endif()
if(stub_hex)
  mentions("${stub_hex}" hits)
  foreach(hit IN LISTS hits)
    parse_instruction("${hit}")
    named_address(stub_hex)
    set(fn "${owner_${named}}")
    if(NOT (mnemonic MATCHES "^(call|j[a-z]+)[lqw]?$" AND NOT operands MATCHES "^\\*"))
      list(APPEND problems "${fn}: code at 0x${at} takes the address of its import stub 0x${named}: ${text}")
    endif()
  endforeach()
endif()

# --- Data and names -------------------------------------------------------------

# Pointers that must not lie in data, and the names that must not appear.
set(pointers "")
foreach(a IN LISTS slot_hex stub_hex)
  pointer_bytes("0x${a}" ${pointer_size} bytes)
  list(APPEND pointers "${bytes}")
  set(pointer_owner_${bytes} "${owner_${a}}")
  set(pointer_kind_${bytes} "import slot")
  if(a IN_LIST stub_hex)
    set(pointer_kind_${bytes} "import stub")
  endif()
  set(pointer_address_${bytes} "${a}")
endforeach()
foreach(fn IN LISTS FUNCTIONS)
  string(HEX "${fn}" name_bytes)
  set(name_bytes_${fn} "${name_bytes}00")
endforeach()

objdump(headers -h)
to_lines("${headers}" lines)
set(section "")
set(scanned "")
foreach(line IN LISTS lines)
  if(line MATCHES "^ *[0-9]+ ([^ ]+) +([0-9a-f]+) +[0-9a-f]+ +[0-9a-f]+ +([0-9a-f]+) ")
    set(section "${CMAKE_MATCH_1}")
    set(size "0x${CMAKE_MATCH_2}")
    set(offset "0x${CMAKE_MATCH_3}")
    continue()
  endif()
  if(section STREQUAL "" OR NOT line MATCHES "CONTENTS" OR line MATCHES "DEBUGGING"
     OR section STREQUAL import_section)
    set(section "")
    continue()
  endif()
  math(EXPR offset_dec "${offset}")
  math(EXPR size_dec "${size}")
  file(READ "${DLL}" bytes OFFSET ${offset_dec} LIMIT ${size_dec} HEX)
  list(APPEND scanned "${section}")
  if(NOT line MATCHES "CODE")
    foreach(p IN LISTS pointers)
      byte_offsets("${bytes}" "${p}" at)
      foreach(o IN LISTS at)
        hex(${o} oh)
        list(APPEND problems
             "${pointer_owner_${p}}: ${section}+0x${oh} holds the address of its ${pointer_kind_${p}} 0x${pointer_address_${p}}")
      endforeach()
    endforeach()
  endif()
  foreach(fn IN LISTS FUNCTIONS)
    byte_offsets("${bytes}" "${name_bytes_${fn}}" at)
    foreach(o IN LISTS at)
      hex(${o} oh)
      list(APPEND problems "${fn} is named outside the import table, at ${section}+0x${oh}")
    endforeach()
  endforeach()
  set(section "")
endforeach()

message(STATUS "import stubs: ${stub_hex}")
message(STATUS "sections scanned for pointers and names: ${scanned}")
if(problems)
  foreach(problem IN LISTS problems)
    message(STATUS "FAIL ${problem}")
  endforeach()
  message(FATAL_ERROR "check_direct_calls: ${DLL} failed the direct-call check")
endif()
message(STATUS "check_direct_calls: ${DLL} calls ${FUNCTIONS} directly only")
