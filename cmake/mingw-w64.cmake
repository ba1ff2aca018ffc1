# Cross-compiles for 64-bit Windows with Debian's mingw-w64 and links
# statically, so a built .exe needs no DLL beside Windows' own.
#
#   scripts/windows-deps.sh      # once: the libraries below
#   cmake -S . -B build-windows/NAME -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# Libraries are looked up in Debian's mingw tree (/usr/x86_64-w64-mingw32:
# zlib from libz-mingw-w64-dev) and in build-windows/deps/prefix (SDL 1.2,
# libpng and GoogleTest from scripts/windows-deps.sh); host
# libraries are never seen. cmake/windows-deps.cmake turns them into
# imported targets.
#
# How SDL 1.2 links, by hand (the targets there do the same):
#   the program whose main() SDL wraps:
#     -Dmain=SDL_main ... -lmingw32 -lSDLmain -lSDL -luser32 -lgdi32 -lwinmm -ldxguid
#   a program with a main of its own (a GoogleTest suite), no SDLmain:
#     ... -lSDL -luser32 -lgdi32 -lwinmm -ldxguid
#   both with -static -static-libgcc -static-libstdc++.
# -mwindows (no console window) is left to the program that wants it.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: with GCC 12 the win32 one has no std::mutex,
# which GoogleTest needs. -static links its libwinpthread in (licence
# in mingw-w64-x86-64-dev's copyright, collected by windows-deps.sh).
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

get_filename_component(_kelbo_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(KELBO_WINDOWS_PREFIX "${_kelbo_root}/build-windows/deps/prefix")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${KELBO_WINDOWS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# add_test() and gtest_discover_tests() run the .exe files through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${_kelbo_root}/scripts/wine-run.sh")
