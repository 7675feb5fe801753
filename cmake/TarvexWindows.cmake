# What a Windows cross build takes from the build machine: the header-only libraries the front
# ends use (CLI11, nlohmann-json, Boost's Asio and Beast for the dashboard) and, for the tests,
# GoogleTest built from its Debian source package with the cross compiler.
#
# The headers are reached through a folder of links rather than /usr/include itself, so that
# none of the build machine's C library headers can stand in for the MinGW ones.
set(TARVEX_HOST_HEADERS "${CMAKE_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${TARVEX_HOST_HEADERS}")
foreach(dir CLI nlohmann boost)
    if(NOT EXISTS "/usr/include/${dir}")
        message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/install-deps")
    endif()
    if(NOT EXISTS "${TARVEX_HOST_HEADERS}/${dir}")
        file(CREATE_LINK "/usr/include/${dir}" "${TARVEX_HOST_HEADERS}/${dir}" SYMBOLIC)
    endif()
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${TARVEX_HOST_HEADERS}")
# Boost: only the header-only parts (Asio, Beast) of the build machine's Boost.
add_library(Boost::headers INTERFACE IMPORTED)
set_target_properties(Boost::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${TARVEX_HOST_HEADERS}")
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${TARVEX_HOST_HEADERS}")

if(TARVEX_BUILD_TESTS)
    set(TARVEX_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources (Debian: googletest)")
    if(NOT EXISTS "${TARVEX_GTEST_SOURCE}/CMakeLists.txt")
        message(FATAL_ERROR "${TARVEX_GTEST_SOURCE} is missing: install the googletest package")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory("${TARVEX_GTEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
    foreach(lib gtest gtest_main gmock gmock_main)
        if(NOT TARGET GTest::${lib})
            add_library(GTest::${lib} ALIAS ${lib})
        endif()
    endforeach()
endif()

# GCC 12 reports impossible overlaps inside std::string's own code when it inlines a
# concatenation at -O2 and above (GCC bug 105329); the warning says nothing about this code.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(tarvex_warnings INTERFACE -Wno-restrict)
endif()
