# Run by CTest in script mode (cmake -P): copies the source tree once, removes one piece at a time
# and configures the copy. Every configure must fail and name what is missing; a green configure
# would mean that a renamed file can drop tests without anyone noticing.
#
#   cmake -DSOURCE_DIR=<checkout> -DWORK_DIR=<scratch folder> -DGENERATOR=Ninja
#         [-DWITHOUT=lua] -P MissingPieces.cmake
#
# With WITHOUT=lua no file is removed: the copy is configured where pkg-config finds no modules,
# as on a machine without liblua5.4-dev, and the configure must fail naming Lua (a native build
# has no reason to leave the strategies out).
set(pieces
    tests/store/storage.cmake
    tests/gui/widgets.cmake
    tests/platform/CMakeLists.txt
    src/main/controller.cmake)

file(REMOVE_RECURSE ${WORK_DIR})
set(copy ${WORK_DIR}/tree)
file(MAKE_DIRECTORY ${copy})
foreach(entry CMakeLists.txt CMakePresets.json cmake src sim tests bench fuzz)
    file(COPY ${SOURCE_DIR}/${entry} DESTINATION ${copy})
endforeach()

set(failures "")
# Configures the copy with `env` (VAR=VALUE words for cmake -E env) and checks that it fails with
# an error matching `expected`; `what` names the case in the messages.
function(expect_configure_error what expected)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env ${ARGN} --
                ${CMAKE_COMMAND} -S ${copy} -B ${WORK_DIR}/b -G ${GENERATOR}
                -DVORLEN_BUILD_BENCH=OFF
        RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    file(REMOVE_RECURSE ${WORK_DIR}/b)
    if(result EQUAL 0)
        string(APPEND failures "${what}: the configure succeeded\n")
    elseif(NOT err MATCHES "${expected}")
        string(APPEND failures "${what}: the configure failed without naming ${expected}:\n${err}\n")
    else()
        message(STATUS "${what}: configure error, as it must be")
    endif()
    set(failures "${failures}" PARENT_SCOPE)
endfunction()

if(WITHOUT STREQUAL "lua")
    set(empty ${WORK_DIR}/no-pkgconfig-modules)
    file(MAKE_DIRECTORY ${empty})
    expect_configure_error("without Lua" "Lua 5\\.4" PKG_CONFIG_LIBDIR=${empty} PKG_CONFIG_PATH=)
else()
    foreach(piece ${pieces})
        get_filename_component(name ${piece} NAME)
        file(RENAME ${copy}/${piece} ${copy}/${piece}.moved)
        expect_configure_error("without ${piece}" "${name}")
        file(RENAME ${copy}/${piece}.moved ${copy}/${piece})
    endforeach()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
