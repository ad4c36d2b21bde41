# Cross-builds for 64-bit Windows with mingw-w64 and runs what it built under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORVEL_MINGW_TRIPLE x86_64-w64-mingw32)
# The POSIX thread model: its C++ library has std::mutex, which GoogleTest
# needs; the win32 model of this compiler release lacks it. The program links
# statically either way, so the choice adds no DLL.
set(CMAKE_C_COMPILER ${QUORVEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW_TRIPLE}-windres)

# Headers and libraries from the target's tree only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs (and test discovery) run through Wine.
find_program(QUORVEL_WINE wine)
if(QUORVEL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVEL_WINE})
endif()
