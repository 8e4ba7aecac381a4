# Cross-builds the tool for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix)
# against the Qt and hidapi prefix that scripts/build-windows-deps prints; pass it as
# -DTARVO_WINDOWS_DEPS=PREFIX or in the environment variable of that name.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT TARVO_WINDOWS_DEPS)
  set(TARVO_WINDOWS_DEPS "$ENV{TARVO_WINDOWS_DEPS}")
endif()
if(NOT EXISTS "${TARVO_WINDOWS_DEPS}/lib/cmake/Qt5Core")
  message(FATAL_ERROR "No Qt for Windows in '${TARVO_WINDOWS_DEPS}': set TARVO_WINDOWS_DEPS to "
                      "the folder scripts/build-windows-deps prints.")
endif()
# The compiler checks run in their own projects and need the prefix too.
set(ENV{TARVO_WINDOWS_DEPS} "${TARVO_WINDOWS_DEPS}")

set(CMAKE_FIND_ROOT_PATH ${TARVO_WINDOWS_DEPS} /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
