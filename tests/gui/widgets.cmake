# Widget tests: one program, off screen, dialogs answered from a script. The end-to-end test runs
# the main window against the simulator's router and gateway library.
# src/gui/ has said why when the windows are not built (turned off, or no Qt in a cross build).
if(NOT TARGET vorlen_gui)
    return()
endif()

set(gui_test_sources
    ${CMAKE_CURRENT_LIST_DIR}/GuiTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/BookFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TradingSafetyTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OwnOrdersFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ChartFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SetFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HistoryFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReplayBarTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ChFormTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/GridViewTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/UiBridgeTest.cpp)
if(TARGET vorlen_strategies)
    list(APPEND gui_test_sources ${CMAKE_CURRENT_LIST_DIR}/StrategyWindowTest.cpp)
endif()
if(TARGET vorlen_backtest)
    list(APPEND gui_test_sources ${CMAKE_CURRENT_LIST_DIR}/BacktestFormTest.cpp)
endif()
get_property(sim_dir GLOBAL PROPERTY VORLEN_SIM_INSTALL_DIR)
list(APPEND gui_test_sources ${CMAKE_CURRENT_LIST_DIR}/EndToEndTest.cpp
                             ${CMAKE_CURRENT_LIST_DIR}/OptionsWindowTest.cpp
                             ${PROJECT_SOURCE_DIR}/tests/e2e/SimHarness.cpp)

add_executable(gui_tests ${gui_test_sources})
target_link_libraries(gui_tests PRIVATE vorlen_gui vorlen_store Qt6::Test GTest::gtest
                                        GTest::gmock)
target_include_directories(gui_tests PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
vorlen_warnings(gui_tests)
target_compile_definitions(gui_tests PRIVATE VORLEN_SIM_DIR="${sim_dir}" VORLEN_CONSOLE="")
add_dependencies(gui_tests sim_gate sim_router)
gtest_discover_tests(gui_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The pictures of docs/screenshots (scripts/screenshots runs it on a virtual display).
add_executable(gui_screenshots ${CMAKE_CURRENT_LIST_DIR}/ScreenshotTool.cpp
                               ${PROJECT_SOURCE_DIR}/tests/e2e/SimHarness.cpp)
target_link_libraries(gui_screenshots PRIVATE vorlen_gui Qt6::Test GTest::gtest)
target_include_directories(gui_screenshots PRIVATE ${PROJECT_SOURCE_DIR}/src
                                                   ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(gui_screenshots PRIVATE VORLEN_SIM_DIR="${sim_dir}" VORLEN_CONSOLE=""
                                                   VORLEN_DESKTOP="$<TARGET_FILE:vorlen>"
                                                   VORLEN_STRATEGY_SAMPLES="${PROJECT_SOURCE_DIR}/strategies")
vorlen_warnings(gui_screenshots)
add_dependencies(gui_screenshots sim_gate sim_router vorlen)
