# The main window's behaviour without the window: message-box seam, settings apply, controller,
# locale formats, window tiling and the router's replay control (vorlen_maincontroller).
vorlen_core_module(vorlen_maincontroller
    ${CMAKE_CURRENT_LIST_DIR}/Dialogs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ApplySettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OrderTicket.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OwnOrderList.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LocaleFormats.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ReplayControl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Tiling.cpp)
target_link_libraries(vorlen_maincontroller PUBLIC vorlen_subscriptions vorlen_settings
                                                   vorlen_experts vorlen_grids vorlen_gateway vorlen_health
                                                   vorlen_orders vorlen_platform)

# The controller over the real connector.
vorlen_core_module(vorlen_connectorport ${CMAKE_CURRENT_LIST_DIR}/ConnectorPort.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/TerminalDesk.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/TradingFolder.cpp)
target_link_libraries(vorlen_connectorport PUBLIC vorlen_maincontroller vorlen_connector
                                                  vorlen_grids vorlen_orders vorlen_book)
