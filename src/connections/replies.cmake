# The exchange's reply codes and their texts: a fixed table with no dependencies of its own.
vorlen_core_module(vorlen_replies ${CMAKE_CURRENT_LIST_DIR}/ErrorCode.cpp)
