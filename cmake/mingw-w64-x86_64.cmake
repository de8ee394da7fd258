# Cross-building for 64-bit Windows with Debian's MinGW-w64 (the posix-thread
# compilers, which std::thread needs). What is built here runs under Wine, and
# ctest runs the tests that way.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

# The libraries scripts/windows-deps builds, in the folder it names after the
# Debian versions it builds and its own hash: that script says which.
if(NOT VORN_WINDOWS_DEPS)
  if(NOT "$ENV{VORN_WINDOWS_DEPS}" STREQUAL "")
    set(VORN_WINDOWS_DEPS "$ENV{VORN_WINDOWS_DEPS}")
  else()
    execute_process(COMMAND bash "${CMAKE_CURRENT_LIST_DIR}/../scripts/windows-deps" --prefix
                    OUTPUT_VARIABLE VORN_WINDOWS_DEPS ERROR_VARIABLE _vorn_deps_error
                    RESULT_VARIABLE _vorn_deps_result OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT _vorn_deps_result EQUAL 0)
      message(FATAL_ERROR "${_vorn_deps_error}")
    endif()
  endif()
endif()
set(VORN_WINDOWS_DEPS "${VORN_WINDOWS_DEPS}" CACHE PATH "Cross-built libraries (scripts/windows-deps)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORN_WINDOWS_DEPS)

# Headers, libraries and packages only from the MinGW tree and that folder, never
# from the build machine's own /usr.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${VORN_WINDOWS_DEPS}")
list(APPEND CMAKE_PREFIX_PATH "${VORN_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
