# quorvel_suite_tests(TARGET TIMEOUT): TARGET's GoogleTest cases as one CTest
# test per suite, each suite's cases run in one process (Suite.*). A short
# case costs less to run than the process that holds it costs to start
# (loading, a sanitizer's runtime, the test framework's registration), so a
# suite's cases share one. The list is read from the built executable, as
# gtest_discover_tests reads its cases.
function(quorvel_suite_tests target timeout)
  set(list_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -D "EXECUTABLE=$<TARGET_FILE:${target}>" -D "OUTPUT=${list_file}"
            -D "TIMEOUT=${timeout}" -P "${PROJECT_SOURCE_DIR}/cmake/ListTestSuites.cmake"
    BYPRODUCTS "${list_file}"
    VERBATIM)
  set(include_file "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites_include.cmake")
  file(WRITE "${include_file}"
    "if(EXISTS \"${list_file}\")\n"
    "  include(\"${list_file}\")\n"
    "else()\n"
    "  add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${include_file}")
endfunction()
