# The Windows release package: `cpack` in the Windows build makes
# morvane-<version>-windows-x64.zip with the program, a text on running it,
# the licence and the notices of the runtime libraries linked into it
# (mingw-w64's C runtime and threads, GCC's libstdc++ and libgcc).

# Where Debian keeps the runtime libraries' notices.
set(MORVANE_RUNTIME_NOTICES
  "mingw-w64-runtime.txt=/usr/share/doc/mingw-w64-x86-64-dev/copyright"
  "gcc-runtime.txt=/usr/share/doc/gcc-mingw-w64-base/copyright"
  CACHE STRING "name=path pairs of the runtime libraries' notices for the package")

configure_file(${PROJECT_SOURCE_DIR}/res/win/README-Windows.txt.in
  ${PROJECT_BINARY_DIR}/package/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/package/LICENSE.txt
  COPYONLY)
# The program at the top, where a user unpacking it looks first.
install(FILES ${PROJECT_BINARY_DIR}/package/README.txt ${PROJECT_BINARY_DIR}/package/LICENSE.txt
  DESTINATION . COMPONENT package)
install(TARGETS morvane RUNTIME DESTINATION . COMPONENT package)
foreach(notice IN LISTS MORVANE_RUNTIME_NOTICES)
  string(REPLACE "=" ";" pair "${notice}")
  list(GET pair 0 name)
  list(GET pair 1 path)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "the notice ${path} is missing: run scripts/install-deps.sh windows")
  endif()
  configure_file("${path}" ${PROJECT_BINARY_DIR}/package/notices/${name} COPYONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/notices/${name} DESTINATION notices COMPONENT package)
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME morvane)
set(CPACK_PACKAGE_VENDOR "The Morvane developers")
set(MORVANE_PACKAGE_NAME "morvane-${PROJECT_VERSION}-windows-x64")
set(CPACK_PACKAGE_FILE_NAME ${MORVANE_PACKAGE_NAME})
set(CPACK_COMPONENTS_ALL package)
# Only what the package component holds, in one archive.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
# Under one folder of the package's name, as users expect of a download.
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# What a user unpacks, checked under Wine: tests/package.
add_test(NAME morvane_windows_package
  COMMAND bash ${PROJECT_SOURCE_DIR}/tests/package/package_test.sh
          ${PROJECT_BINARY_DIR}/CPackConfig.cmake ${MORVANE_PACKAGE_NAME}
          ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${PROJECT_VERSION})
set_tests_properties(morvane_windows_package PROPERTIES LABELS package TIMEOUT 300)
