# The replica store, its row sets and the experts' field map.
if(CMAKE_CROSSCOMPILING)
    find_package(absl QUIET)
else()
    find_package(absl REQUIRED)
endif()
vorlen_core_module(vorlen_store ${CMAKE_CURRENT_LIST_DIR}/Storage.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/StorageHeaders.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/Rows.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/BlockPool.cpp
                   ${CMAKE_CURRENT_LIST_DIR}/ExpertFieldMap.cpp)
target_link_libraries(vorlen_store PUBLIC vorlen_values vorlen_platform)
if(TARGET absl::flat_hash_map AND TARGET absl::flat_hash_set)
    target_link_libraries(vorlen_store PUBLIC absl::flat_hash_map absl::flat_hash_set)
    target_compile_definitions(vorlen_store PUBLIC VORLEN_HAVE_ABSL)
endif()
