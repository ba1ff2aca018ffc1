# Imported targets for the Windows libraries, under cmake/mingw-w64.cmake.
# Include this after project() and before any find_package() of these:
# a zlib found earlier is cached as the DLL's import library.
#   ZLIB::ZLIB, PNG::PNG, GTest::gtest, GTest::gtest_main,
#   GTest::gmock: from CMake's own find modules and GoogleTest's config,
#     which find the static libraries as they are;
#   SDL::SDL: libSDL.a and the Windows libraries it calls, without SDLmain,
#     for libraries and for programs with a main of their own (tests);
#   SDL::main: SDL's main() wrapper, for the one program whose main SDL
#     takes over. Link it only from that executable: it renames main.
# CMake's FindSDL is not used for SDL: under MinGW it puts SDLmain and
# -mwindows into SDL::SDL and leaves out winmm and dxguid, which a static
# libSDL needs. A later find_package(SDL) keeps the SDL::SDL made here.

# Debian's mingw zlib comes as both libz.a and an import library for a DLL.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
find_package(PNG REQUIRED)
find_package(GTest REQUIRED)

find_path(KELBO_SDL_INCLUDE_DIR SDL.h PATH_SUFFIXES SDL REQUIRED)
find_library(KELBO_SDL_LIBRARY SDL REQUIRED)
find_library(KELBO_SDLMAIN_LIBRARY SDLmain REQUIRED)

if(NOT TARGET SDL::SDL)
  add_library(SDL::SDL STATIC IMPORTED)
  set_target_properties(SDL::SDL PROPERTIES
    IMPORTED_LOCATION "${KELBO_SDL_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${KELBO_SDL_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "user32;gdi32;winmm;dxguid")
endif()

# -lmingw32 must come before -lSDLmain: the C runtime's startup code in it
# calls the main() or WinMain() that SDLmain defines. SDL.h renames main
# itself; the definition covers a main file that does not include it.
if(NOT TARGET SDL::main)
  add_library(SDL::main INTERFACE IMPORTED)
  set_target_properties(SDL::main PROPERTIES
    INTERFACE_LINK_LIBRARIES "mingw32;${KELBO_SDLMAIN_LIBRARY};SDL::SDL"
    INTERFACE_COMPILE_DEFINITIONS "main=SDL_main")
endif()

# What FindSDL would report, for code that reads the variables.
set(SDL_FOUND TRUE)
set(SDL_INCLUDE_DIR "${KELBO_SDL_INCLUDE_DIR}")
set(SDL_INCLUDE_DIRS "${KELBO_SDL_INCLUDE_DIR}")
set(SDL_LIBRARIES SDL::SDL)
