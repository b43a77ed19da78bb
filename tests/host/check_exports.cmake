# Compares the export table of the built shared library with the list of
# interface names: every name exported, nothing else (no C++ names, no
# internal helpers, no runtime symbols).
#
#   cmake -DFORMAT=pe|elf -DTOOL=<objdump|nm> -DLIBRARY=<dll|so> -DNAMES=<list>
#         [-DALLOW_MISSING=ON] -P check_exports.cmake
#
# FORMAT pe reads `objdump -p` (the export name pointer table of a DLL), elf
# reads `nm -D --defined-only`. ALLOW_MISSING tolerates interface names not
# (yet) defined, while still refusing any extra name.
foreach(var FORMAT TOOL LIBRARY NAMES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_exports.cmake: ${var} not set")
  endif()
endforeach()

file(STRINGS ${NAMES} expected REGEX "^[A-Za-z_][A-Za-z0-9_]*$")
list(LENGTH expected expectedCount)

if(FORMAT STREQUAL "pe")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  # The name pointer table follows its heading, one "\t[  12] getNFFT" per
  # line, up to the first empty line.
  string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
  if(at LESS 0)
    set(dump "")
  else()
    string(SUBSTRING "${dump}" ${at} -1 dump)
    string(FIND "${dump}" "\n\n" end)
    string(SUBSTRING "${dump}" 0 ${end} dump)
  endif()
  string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" lines "${dump}")
  set(actual "")
  foreach(line ${lines})
    string(REGEX REPLACE "^\n\t\\[ *[0-9]+\\] " "" name "${line}")
    list(APPEND actual "${name}")
  endforeach()
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  # "0000000000012340 T getNFFT"; drop symbol versions ("name@@VER").
  string(REGEX MATCHALL "[0-9a-fA-F]+ [A-Za-z] [^\n]+" lines "${dump}")
  set(actual "")
  foreach(line ${lines})
    string(REGEX REPLACE "^[0-9a-fA-F]+ [A-Za-z] " "" name "${line}")
    string(REGEX REPLACE "@.*$" "" name "${name}")
    list(APPEND actual "${name}")
  endforeach()
endif()
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${TOOL} failed on ${LIBRARY} (${rc})")
endif()

set(extra ${actual})
list(REMOVE_ITEM extra ${expected})
set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
set(duplicates ${actual})
list(REMOVE_DUPLICATES duplicates)
list(LENGTH actual actualCount)
list(LENGTH duplicates distinctCount)

list(LENGTH missing missingCount)
message(STATUS "${LIBRARY}: ${actualCount} exports, ${missingCount} of ${expectedCount} interface names missing")
set(failed FALSE)
if(extra)
  message(SEND_ERROR "exported but not part of the interface: ${extra}")
  set(failed TRUE)
endif()
if(NOT actualCount EQUAL distinctCount)
  message(SEND_ERROR "a name is exported twice")
  set(failed TRUE)
endif()
if(missing)
  if(ALLOW_MISSING)
    message(STATUS "not yet exported: ${missing}")
  else()
    message(SEND_ERROR "not exported: ${missing}")
    set(failed TRUE)
  endif()
endif()
if(failed)
  message(FATAL_ERROR "export table differs from ${NAMES}")
endif()
