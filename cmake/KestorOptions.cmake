# Compiler flags shared by every target of the project. Targets opt in with
# kestor_target_defaults() so that third-party code never sees our warnings.

add_library(kestor_warnings INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(kestor_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Wno-unused-parameter)
endif()
# clang has no -Wshadow=local (it would warn about the unknown option instead).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(kestor_warnings INTERFACE -Wshadow=local)
endif()

# GCC leaves float-cast-overflow out of "undefined": a NaN or a huge float
# converted to int (window sizes, volume resolutions) is caught only with it.
add_library(kestor_sanitizers INTERFACE)
if(KESTOR_SANITIZE)
  target_compile_options(kestor_sanitizers INTERFACE
    -fsanitize=address,undefined,float-cast-overflow -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined,float-cast-overflow)
  target_link_options(kestor_sanitizers INTERFACE -fsanitize=address,undefined,float-cast-overflow)
endif()

function(kestor_target_defaults target)
  target_link_libraries(${target} PRIVATE kestor_warnings kestor_sanitizers)
endfunction()
