# Installs the built library into a scratch prefix, then builds and runs the
# consumer against it, and once more with the library as a subdirectory.
# Inputs: BUILD_DIR, SOURCE_DIR, WORK_DIR.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
                        --component qv_vcard_core
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed")
endif()
foreach(mode installed subdirectory)
  if(mode STREQUAL installed)
    set(args -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix)
  else()
    set(args -DQV_VCARD_SOURCE_DIR=${SOURCE_DIR} -DQV_VCARD_TESTS=OFF -DQV_VCARD_BENCH=OFF
             -DQV_VCARD_PYTHON=OFF -DQV_VCARD_COM=OFF)
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer
                          -B ${WORK_DIR}/${mode} -G Ninja ${args}
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc)
    message(FATAL_ERROR "${mode}: configure failed")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/${mode} --target consumer
                  RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc)
    message(FATAL_ERROR "${mode}: build failed")
  endif()
  execute_process(COMMAND ${WORK_DIR}/${mode}/consumer OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(rc OR NOT out STREQUAL "N:Doe;;;;\n")
    message(FATAL_ERROR "${mode}: consumer printed '${out}' (exit ${rc})")
  endif()
  message(STATUS "${mode}: ${out}")
endforeach()
