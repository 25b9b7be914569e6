# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compilers (the
# POSIX-threads flavour, whose std::thread and std::mutex work). Programs
# built here run under Wine: CMAKE_CROSSCOMPILING_EMULATOR lets ctest and
# the test discovery start them as if they were native.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QFX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QFX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QFX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QFX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QFX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The folder Wine keeps its registry and C: drive in, inside the build
# folder, so that nothing touches ~/.wine (cmake/WineRun.sh creates it).
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../WineRun.sh)
