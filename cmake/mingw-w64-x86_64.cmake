# Cross-builds the Windows programs (64-bit) on Linux with mingw-w64, posix
# thread model (GoogleTest needs std::thread). Debian: g++-mingw-w64-x86-64-posix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(INPUTFEED_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${INPUTFEED_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${INPUTFEED_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${INPUTFEED_MINGW_PREFIX}-windres)
# The "-posix" suffix hides the binutils prefix from CMake's own search.
set(CMAKE_AR ${INPUTFEED_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${INPUTFEED_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${INPUTFEED_MINGW_PREFIX}-strip CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${INPUTFEED_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: no libstdc++-6.dll, libgcc_s or libwinpthread DLL
# to ship beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Windows programs run here through Wine; the project replaces this with its
# fixture wrapper, which gives each run a private prefix and display.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
