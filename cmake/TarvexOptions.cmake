# Compiler warnings and sanitizers shared by every target of the project.

add_library(tarvex_warnings INTERFACE)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(tarvex_warnings INTERFACE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
        -Wimplicit-fallthrough -Wformat=2 -Wcast-qual -Wundef)
    if(TARVEX_WERROR)
        target_compile_options(tarvex_warnings INTERFACE -Werror)
    endif()
endif()

if(TARVEX_SANITIZE)
    # Applied globally so that the core library, the tools and the tests agree on the runtime.
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# Keeps FooLinux.cpp / FooPosix.cpp / FooWin32.cpp (and their tests, FooWin32Test.cpp) only for
# the platform they are written for.
function(tarvex_filter_platform_sources var)
    set(kept)
    foreach(src IN LISTS ${var})
        get_filename_component(stem "${src}" NAME_WE)
        string(REGEX REPLACE "Test$" "" stem "${stem}")
        if(stem MATCHES "Win32$" AND NOT WIN32)
            continue()
        endif()
        if(stem MATCHES "Linux$" AND NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
            continue()
        endif()
        if(stem MATCHES "Posix$" AND WIN32)
            continue()
        endif()
        list(APPEND kept "${src}")
    endforeach()
    set(${var} ${kept} PARENT_SCOPE)
endfunction()
