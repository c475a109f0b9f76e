# cmake -P script: install, configure and build the consumer, run it.
file(REMOVE_RECURSE ${PREFIX} ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
foreach(header z3az/z3az.h z3az/d3d9.h z3az/d3d9_runtime.h z3az/data_buffer.h z3az/types.h)
  if(NOT EXISTS ${PREFIX}/include/${header})
    message(FATAL_ERROR "not installed: include/${header}")
  endif()
endforeach()
set(toolchain "")
if(TOOLCHAIN)
  set(toolchain "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}")  # e.g. the 32-bit build
endif()
run(${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK} -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${PREFIX} ${toolchain}
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK})
run(${WORK}/consumer ${WORK}/shot.bmp)
file(READ ${WORK}/shot.bmp head LIMIT 2)
if(NOT head STREQUAL "BM")
  message(FATAL_ERROR "the consumer's file is not a BMP file")
endif()
message(STATUS "consumer built against ${PREFIX} and saved a surface")
