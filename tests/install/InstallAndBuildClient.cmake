# cmake -P script: install BUILD_DIR into WORK_DIR/prefix, configure, build and run the
# client in SOURCE_DIR against it.
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
    execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "command failed (${rc}): ${ARGV}\n${out}\n${err}")
    endif()
    message(STATUS "${out}")
endfunction()
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
# Only public headers are installed: nothing from a folder's internal/.
file(GLOB_RECURSE internal_headers RELATIVE ${WORK_DIR}/prefix ${WORK_DIR}/prefix/*/internal/*)
if(internal_headers)
    message(FATAL_ERROR "internal headers installed: ${internal_headers}")
endif()
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/client -G Ninja
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_CXX_COMPILER=${CXX_COMPILER}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/client)
run(${WORK_DIR}/client/installed_client)
