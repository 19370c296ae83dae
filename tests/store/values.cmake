vorlen_test(values_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/FunctionsTest.cpp LIBS vorlen_values)
