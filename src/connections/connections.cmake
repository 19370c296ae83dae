# The market-data and transaction connection threads.
vorlen_core_module(vorlen_connections ${CMAKE_CURRENT_LIST_DIR}/Connection.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/ConnectionUtil.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/ReplicaFeed.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/TrConnection.cpp)
target_link_libraries(vorlen_connections PUBLIC vorlen_store vorlen_values vorlen_gateway vorlen_health
                                                vorlen_platform)
# Recording is left out with the history module (VORLEN_HISTORY): the connections then have
# nowhere to record to.
if(TARGET vorlen_history)
    target_link_libraries(vorlen_connections PUBLIC vorlen_history)
endif()
