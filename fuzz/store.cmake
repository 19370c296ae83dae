# Arbitrary bytes as stream-data messages (any table index, stream index, size and bytes) against
# the replica store on a fixed scheme.
vorlen_fuzzer(fuzz_stream_data SOURCES ${CMAKE_CURRENT_LIST_DIR}/StoreFuzz.cpp LIBS vorlen_store)
# The hand-made scheme is shared with the store's tests.
target_include_directories(fuzz_stream_data PRIVATE ${PROJECT_SOURCE_DIR}/tests)
