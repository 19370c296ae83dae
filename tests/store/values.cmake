vorlen_test(values_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/FieldConversionTest.cpp LIBS vorlen_values)
