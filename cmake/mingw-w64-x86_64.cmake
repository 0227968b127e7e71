# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# which GCC 12 needs for std::thread and std::mutex):
#   cmake -S . -B build-win -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MORVANE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MORVANE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORVANE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MORVANE_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${MORVANE_MINGW_PREFIX}-objdump CACHE FILEPATH "objdump for PE files")

# Libraries and headers come only from the cross root; programs (ninja,
# objdump, wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MORVANE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the C++ runtime and winpthread in, so that the executables import only
# DLLs every Windows has (checked by morvane_check_imports).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine, in the project's own prefix.
get_filename_component(_morvane_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_morvane_source_dir}/scripts/wine-run.sh")
