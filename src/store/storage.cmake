# The replica store, its row sets and the experts' field map.
find_package(absl REQUIRED)
vorlen_core_module(vorlen_store ${CMAKE_CURRENT_LIST_DIR}/Storage.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/Rows.cpp ${CMAKE_CURRENT_LIST_DIR}/DataBase.cpp)
target_link_libraries(vorlen_store PUBLIC vorlen_values vorlen_platform absl::flat_hash_map)
