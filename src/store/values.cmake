# The conversion of gateway fields into values and of values into display texts.
vorlen_core_module(vorlen_values ${CMAKE_CURRENT_LIST_DIR}/FieldConversion.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/Value.cpp)
target_link_libraries(vorlen_values PUBLIC vorlen_platform vorlen_gateway)
