vorlen_test(store_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/StorageTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/HeadersTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/RowsTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ExpertFieldMapTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/BlockPoolTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/IdMapTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/PiecesTest.cpp
    LIBS vorlen_store)
