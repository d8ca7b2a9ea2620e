# The fuzz targets' logic as one static library, shared by the libFuzzer executables (fuzz
# preset, clang) and by the replay tests (any compiler). Included from both places; defines
# the library once.
if(NOT TARGET orv_fuzz_targets)
    set(dir ${PROJECT_SOURCE_DIR}/fuzz/targets)
    add_library(orv_fuzz_targets STATIC
        ${dir}/BuilderSequences.cpp ${dir}/QueryRecords.cpp ${dir}/PolicyBytes.cpp
        ${dir}/LasReader.cpp)
    target_link_libraries(orv_fuzz_targets PUBLIC Orv::DataProxyImplTzk Orv::DataProxyLas
        orv_test_support)
    orv_set_warnings(orv_fuzz_targets)
endif()
