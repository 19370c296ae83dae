# Warnings are errors in our own code only; third-party headers come in as system includes. The
# presets (what the scripts and CI build) turn them into errors; a plain configure, as a packager
# runs it with whatever compiler is newest, only shows them.
option(VORLEN_WARNINGS_AS_ERRORS "Treat compiler warnings in our own code as errors" OFF)

function(vorlen_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /utf-8)
        if(VORLEN_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE /WX)
        endif()
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
                                                 -Wno-missing-field-initializers)
        if(VORLEN_WARNINGS_AS_ERRORS)
            target_compile_options(${target} PRIVATE -Werror)
        endif()
        # GCC 12 at -O3 reports -Wrestrict on std::string concatenation inside libstdc++
        # itself (a known false positive); it would fail every release build.
        if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
            target_compile_options(${target} PRIVATE -Wno-restrict)
        endif()
    endif()
endfunction()

# A module library of the core: static, warnings as errors, includes rooted at src/.
function(vorlen_module name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    vorlen_warnings(${name})
endfunction()

# One GoogleTest program per module folder, registered with CTest test by test.
function(vorlen_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE VORLEN_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
    vorlen_warnings(${name})
    if(CMAKE_CROSSCOMPILING)
        # Listing the tests at build time would start the emulator once per program on every
        # build; listing them when CTest runs costs that only when the tests are run anyway.
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                             PROPERTIES TIMEOUT 120)
    else()
        gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
    endif()
endfunction()

# Adds a module library to the whole core (vorlen_core).
function(vorlen_core_module name)
    vorlen_module(${name} ${ARGN})
    set_property(GLOBAL APPEND PROPERTY VORLEN_CORE_MODULES ${name})
endfunction()
