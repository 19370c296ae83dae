# Widget tests: one program, off screen, dialogs answered from a script. The end-to-end test runs
# the main window against the simulator's router and gateway library.
if(NOT TARGET vorlen_gui)
    return()
endif()

set(gui_test_sources
    ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BookFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SetFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ChFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GridViewTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UiBridgeTest.cpp)
get_property(sim_dir GLOBAL PROPERTY VORLEN_SIM_INSTALL_DIR)
set(gui_e2e OFF)
if(sim_dir AND TARGET sim_gate AND TARGET sim_router
   AND EXISTS ${PROJECT_SOURCE_DIR}/tests/e2e/SimHarness.cpp)
    set(gui_e2e ON)
    list(APPEND gui_test_sources ${CMAKE_CURRENT_LIST_DIR}/EndToEndTest.cpp
                                 ${PROJECT_SOURCE_DIR}/tests/e2e/SimHarness.cpp)
endif()

add_executable(gui_tests ${gui_test_sources})
target_link_libraries(gui_tests PRIVATE vorlen_gui vorlen_store Qt6::Test GTest::gtest
                                        GTest::gmock)
target_include_directories(gui_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
vorlen_warnings(gui_tests)
if(gui_e2e)
    target_compile_definitions(gui_tests PRIVATE VORLEN_SIM_DIR="${sim_dir}"
                                                 VORLEN_CONSOLE="")
    add_dependencies(gui_tests sim_gate sim_router)
endif()
gtest_discover_tests(gui_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The pictures of docs/screenshots (scripts/screenshots runs it on a virtual display).
if(gui_e2e)
    add_executable(gui_screenshots ${CMAKE_CURRENT_LIST_DIR}/ScreenshotTool.cpp
                                   ${PROJECT_SOURCE_DIR}/tests/e2e/SimHarness.cpp)
    target_link_libraries(gui_screenshots PRIVATE vorlen_gui Qt6::Test GTest::gtest)
    target_include_directories(gui_screenshots PRIVATE ${PROJECT_SOURCE_DIR}/src
                                                       ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(gui_screenshots PRIVATE VORLEN_SIM_DIR="${sim_dir}"
                                                       VORLEN_CONSOLE="")
    vorlen_warnings(gui_screenshots)
    add_dependencies(gui_screenshots sim_gate sim_router)
endif()
