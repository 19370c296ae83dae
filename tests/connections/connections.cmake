# Both connection threads against a scripted gateway table; no gateway library is loaded.
vorlen_test(connections_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/FakeGateway.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ConnectionTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/TrConnectionTest.cpp
    LIBS vorlen_connections)
