# Run by CTest in script mode (cmake -P): copies the source tree once per piece, removes that one
# piece and configures the copy. Every configure must fail and name what is missing; a green
# configure would mean that a renamed file can drop tests without anyone noticing.
#
#   cmake -DSOURCE_DIR=<checkout> -DWORK_DIR=<scratch folder> -DGENERATOR=Ninja -P MissingPieces.cmake
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
foreach(piece ${pieces})
    get_filename_component(name ${piece} NAME)
    file(RENAME ${copy}/${piece} ${copy}/${piece}.moved)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -S ${copy} -B ${WORK_DIR}/b -G ${GENERATOR}
                -DVORLEN_BUILD_BENCH=OFF
        RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    file(RENAME ${copy}/${piece}.moved ${copy}/${piece})
    file(REMOVE_RECURSE ${WORK_DIR}/b)
    if(result EQUAL 0)
        string(APPEND failures "without ${piece} the configure succeeded\n")
    elseif(NOT err MATCHES "${name}")
        string(APPEND failures "without ${piece} the configure failed without naming it:\n${err}\n")
    else()
        message(STATUS "without ${piece}: configure error, as it must be")
    endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
if(failures)
    message(FATAL_ERROR "${failures}")
endif()
