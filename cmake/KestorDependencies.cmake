# Every third-party library the engine uses, all from the distribution's
# packages. Each one ends up as an imported target named Kestor::<name>.

find_package(OpenGL REQUIRED COMPONENTS OpenGL)
find_package(SDL2 REQUIRED)
find_package(GLEW REQUIRED)
find_package(Freetype REQUIRED)
find_package(tinyxml2 REQUIRED)
find_package(glm REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(LCMS2 REQUIRED IMPORTED_TARGET lcms2)
# The program's command line (header-only).
find_package(CLI11 CONFIG REQUIRED)
# On X the window asks whether a window manager runs (full screen needs one).
find_package(X11)
# Scene import (KestorImport).
find_package(assimp CONFIG REQUIRED)

# stb ships headers only; the decoder's implementation is compiled once inside
# the engine library.
find_path(STB_INCLUDE_DIR stb_image.h PATH_SUFFIXES stb REQUIRED)
add_library(Kestor::stb INTERFACE IMPORTED)
set_target_properties(Kestor::stb PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${STB_INCLUDE_DIR}")

# libsoundio's Debian package has neither a CMake config nor a pkg-config file.
find_path(SOUNDIO_INCLUDE_DIR soundio/soundio.h REQUIRED)
find_library(SOUNDIO_LIBRARY soundio REQUIRED)
add_library(Kestor::soundio UNKNOWN IMPORTED)
set_target_properties(Kestor::soundio PROPERTIES
  IMPORTED_LOCATION "${SOUNDIO_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${SOUNDIO_INCLUDE_DIR}")

if(TARGET SDL2::SDL2)
  add_library(Kestor::SDL2 ALIAS SDL2::SDL2)
else()
  add_library(Kestor::SDL2 INTERFACE IMPORTED)
  set_target_properties(Kestor::SDL2 PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${SDL2_INCLUDE_DIRS}"
    INTERFACE_LINK_LIBRARIES "${SDL2_LIBRARIES}")
endif()

if(TARGET glm::glm)
  set(KESTOR_GLM glm::glm)
else()
  set(KESTOR_GLM glm)
endif()
