# Helpers that build each source layer from the files in its folder.

set(Z3AZ_EMPTY_SOURCE ${CMAKE_BINARY_DIR}/z3az_empty.cpp)
if(NOT EXISTS ${Z3AZ_EMPTY_SOURCE})
  file(WRITE ${Z3AZ_EMPTY_SOURCE} "// A layer without sources of its own yet.\n")
endif()

# z3az_layer(NAME STATIC|SHARED deps...): a library z3az_NAME from src/NAME/*.cpp.
function(z3az_layer name kind)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp
                                      ${PROJECT_SOURCE_DIR}/src/${name}/*.c)
  if(NOT sources)
    set(sources ${Z3AZ_EMPTY_SOURCE})
  endif()
  add_library(z3az_${name} ${kind} ${sources})
  target_include_directories(z3az_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  if(ARGN)
    target_link_libraries(z3az_${name} PUBLIC ${ARGN})
  endif()
endfunction()

# Adds every direct subfolder of DIR that has a CMakeLists.txt.
function(z3az_subdirectories dir)
  file(GLOB lists CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${dir}/*/CMakeLists.txt)
  foreach(list ${lists})
    get_filename_component(sub ${list} DIRECTORY)
    add_subdirectory(${sub})
  endforeach()
endfunction()
