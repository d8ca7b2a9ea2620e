# The fuzz targets' logic as one static library, shared by the libFuzzer executables (fuzz
# preset, clang) and by the replay tests (any compiler). Included from both places; defines
# the library once.
if(NOT TARGET orv_fuzz_targets)
    # The LAS reader is a demo piece; builds without the examples still fuzz it.
    if(NOT TARGET orv_demo_las)
        add_subdirectory(${PROJECT_SOURCE_DIR}/examples/las ${PROJECT_BINARY_DIR}/fuzz-las)
    endif()
    set(dir ${PROJECT_SOURCE_DIR}/fuzz/targets)
    add_library(orv_fuzz_targets STATIC
        ${dir}/BuilderSequences.cpp ${dir}/QueryRecords.cpp ${dir}/PolicyBytes.cpp
        ${dir}/LasReader.cpp)
    target_include_directories(orv_fuzz_targets PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(orv_fuzz_targets PUBLIC Orv::DataProxyImplTzk orv_demo_las)
    orv_set_warnings(orv_fuzz_targets)
endif()
