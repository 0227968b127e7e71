# morvane_check_imports(<target> [ALLOW <dll>...])
#
# Adds the test <target>_imports, which reads the import table of the
# target's executable and fails if it names a DLL that not every Windows
# system has. The program is copied to a machine and run as it is, so
# anything else it imports (the C++ runtime, winpthread) must be linked in
# statically. ALLOW adds DLLs for this one target. The top level applies it
# to the program (target morvane) by itself; a second call for a target that
# already has the test does nothing, so its own directory may call it first,
# e.g. with ALLOW.

set(MORVANE_SYSTEM_DLLS
  kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 comctl32 comdlg32
  winmm shlwapi version ws2_32 msvcrt "api-ms-win-crt-*"
  CACHE STRING "DLLs an executable may import (lower case; * matches any text)")
mark_as_advanced(MORVANE_SYSTEM_DLLS)

set(_morvane_imports_script ${CMAKE_CURRENT_LIST_DIR}/check_imports.cmake)

function(morvane_check_imports target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "ALLOW")
  get_property(checked GLOBAL PROPERTY MORVANE_IMPORTS_CHECKED)
  if(target IN_LIST checked)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY MORVANE_IMPORTS_CHECKED ${target})
  if(NOT CMAKE_OBJDUMP)
    message(FATAL_ERROR "morvane_check_imports: no objdump for ${target}")
  endif()
  set(allowed ${MORVANE_SYSTEM_DLLS} ${arg_ALLOW})
  string(REPLACE ";" "," allowed "${allowed}")
  add_test(NAME ${target}_imports
    COMMAND ${CMAKE_COMMAND}
            -DOBJDUMP=${CMAKE_OBJDUMP}
            -DEXECUTABLE=$<TARGET_FILE:${target}>
            "-DALLOWED=${allowed}"
            -P ${_morvane_imports_script})
  set_tests_properties(${target}_imports PROPERTIES LABELS imports)
endfunction()
