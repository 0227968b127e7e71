# Fails if EXECUTABLE imports a DLL outside ALLOWED (comma-separated, any
# case, * matches any text). Run by the tests that morvane_check_imports adds.
foreach(var OBJDUMP EXECUTABLE ALLOWED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_imports: ${var} not given")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${EXECUTABLE}
  OUTPUT_VARIABLE dump ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_imports: ${OBJDUMP} -p ${EXECUTABLE} failed (${rc}): ${err}")
endif()

# "\tDLL Name: KERNEL32.dll", one line per imported DLL.
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  # Every Windows program imports at least KERNEL32: an empty list means
  # the dump was not read right, not that the program is clean.
  message(FATAL_ERROR "check_imports: no imports found in ${EXECUTABLE}")
endif()

string(REPLACE "," ";" patterns "${ALLOWED}")
set(regexes)
foreach(pattern IN LISTS patterns)
  string(TOLOWER "${pattern}" pattern)
  string(REGEX REPLACE "\\.dll$" "" pattern "${pattern}")
  string(REGEX REPLACE "([][.+?^$()|\\\\])" "\\\\\\1" pattern "${pattern}")
  string(REPLACE "*" ".*" pattern "${pattern}")
  list(APPEND regexes "^${pattern}\\.dll$")
endforeach()

set(imported)
set(foreign)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  string(STRIP "${dll}" dll)
  list(APPEND imported "${dll}")
  string(TOLOWER "${dll}" lower)
  set(known FALSE)
  foreach(regex IN LISTS regexes)
    if(lower MATCHES "${regex}")
      set(known TRUE)
      break()
    endif()
  endforeach()
  if(NOT known)
    list(APPEND foreign "${dll}")
  endif()
endforeach()

list(JOIN imported ", " imported_text)
if(foreign)
  list(JOIN foreign ", " foreign_text)
  # One unwrapped line per foreign DLL (error text is wrapped at the width
  # the path happens to leave), for people and for the check's own test.
  foreach(dll IN LISTS foreign)
    message(STATUS "not a system DLL: ${dll}")
  endforeach()
  message(FATAL_ERROR "${EXECUTABLE} imports ${foreign_text}, which not every Windows has "
    "(link it statically); all imports: ${imported_text}")
endif()
message(STATUS "${EXECUTABLE} imports only system DLLs: ${imported_text}")
