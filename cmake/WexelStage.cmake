# The system runs straight from the build tree: build/stage mirrors the installation
# layout (EXE, USER, SYSTEM), and every binary finds its libraries beside itself.
set(WEXEL_STAGE ${CMAKE_BINARY_DIR}/stage)
set(WEXEL_STAGE_EXE ${WEXEL_STAGE}/EXE)
set(WEXEL_STAGE_USER ${WEXEL_STAGE}/USER)
set(WEXEL_STAGE_SYSTEM ${WEXEL_STAGE}/SYSTEM)
file(MAKE_DIRECTORY ${WEXEL_STAGE_EXE} ${WEXEL_STAGE_USER} ${WEXEL_STAGE_SYSTEM})

# Places a library or executable in stage/EXE and lets it load its siblings by $ORIGIN.
function(wexel_stage_binary target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${WEXEL_STAGE_EXE}
    LIBRARY_OUTPUT_DIRECTORY ${WEXEL_STAGE_EXE}
    BUILD_RPATH "$ORIGIN"
    INSTALL_RPATH "$ORIGIN")
endfunction()

# One GoogleTest executable per unit under test, each case its own CTest test.
function(wexel_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    WEXEL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "LC_ALL=C;ASAN_OPTIONS=detect_leaks=1")
endfunction()
