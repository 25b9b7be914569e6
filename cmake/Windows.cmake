# Settings for the Windows build (cmake/toolchains/mingw-w64-x86_64.cmake).
#
# Every binary is self-contained: libgcc, libstdc++ and winpthreads are
# linked in, so a plug-in imports only DLLs that every Windows has, and a
# host built with any compiler loads it through the C interface alone.
add_link_options(-static -static-libgcc -static-libstdc++)

# GCC for MinGW-w64 keeps the stack 16-byte aligned but gives AVX spills
# 32- and 64-byte slots addressed with aligned moves, which fault when the
# slot is not aligned. The assembler writes every aligned vector move as its
# unaligned twin instead: the same speed on aligned data, and no fault.
# tests/windows checks that the bundles hold no aligned vector move.
add_compile_options(-Wa,-muse-unaligned-vector-move)

# Windows paths for the programs under Wine: the Unix root is drive Z:, and
# a path the tests are compiled with must name it so.
set(QFX_RUNTIME_PATH_PREFIX "Z:")

# The programs of this build run under Wine in a folder of its own.
set(QFX_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine")
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/WineRun.sh;${QFX_WINE_PREFIX}")
# Made now, once: the first program to need it would otherwise spend its
# test listing's time limit waiting for Wine to set the folder up.
if(QFX_BUILD_TESTS AND NOT EXISTS "${QFX_WINE_PREFIX}/.ready")
  find_program(QFX_WINE wine)
  if(QFX_WINE)
    message(STATUS "Making the Wine folder ${QFX_WINE_PREFIX}")
    execute_process(COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --prepare)
  else()
    message(WARNING "Wine is missing: the tests cannot run (make deps-windows)")
  endif()
endif()
