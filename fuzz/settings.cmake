# Arbitrary bytes as a saved-settings file, read and applied to the dialog's values and tree.
vorlen_fuzzer(fuzz_saved_settings SOURCES ${CMAKE_CURRENT_LIST_DIR}/SavedSettingsFuzz.cpp
              LIBS vorlen_settings)
