# vexel_add_library(NAME DIRS dir... [LINK_PUBLIC ...] [LINK_PRIVATE ...])
# A static library made of every .cpp in the given source folders.
function(vexel_add_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;LINK_PUBLIC;LINK_PRIVATE" ${ARGN})
  set(sources)
  foreach(dir ${ARG_DIRS})
    file(GLOB dir_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${dir}/*.cpp)
    list(APPEND sources ${dir_sources})
  endforeach()
  if(NOT sources)
    set(stub ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${stub} "// ${name} has no sources yet\n")
    set(sources ${stub})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LINK_PUBLIC} PRIVATE ${ARG_LINK_PRIVATE})
endfunction()

# vexel_add_tests(DIR LINK lib... [LABEL label])
# One test executable per tests/DIR/*_test.cpp, so a test file is built and
# run on its own; every GoogleTest case becomes one CTest test.
function(vexel_add_tests dir)
  cmake_parse_arguments(ARG "" "LABEL" "LINK" ${ARGN})
  if(NOT ARG_LABEL)
    set(ARG_LABEL ${dir})
  endif()
  file(GLOB test_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${dir}/*_test.cpp)
  foreach(src ${test_sources})
    get_filename_component(base ${src} NAME_WE)
    set(target ${dir}_${base})
    add_executable(${target} ${src})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PRIVATE ${ARG_LINK} GTest::gtest GTest::gmock GTest::gtest_main)
    target_compile_definitions(${target} PRIVATE
      VEXEL_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
      VEXEL_CLI_PATH="${PROJECT_BINARY_DIR}/bin/vexel-cli")
    if(dir STREQUAL "cli")
      add_dependencies(${target} vexel-cli)
    endif()
    gtest_discover_tests(${target}
      DISCOVERY_MODE PRE_TEST
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
      PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 600)
  endforeach()
endfunction()
