vorlen_test(replies_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/ErrorCodeTest.cpp LIBS vorlen_replies)
