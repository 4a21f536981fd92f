# Writes OUTPUT: an add_test for each GoogleTest suite of EXECUTABLE, which
# runs that suite's cases (see quorvel_suite_tests in SuiteTests.cmake).
#   cmake -D EXECUTABLE=... -D OUTPUT=... -D TIMEOUT=... -P ListTestSuites.cmake
execute_process(COMMAND "${EXECUTABLE}" --gtest_list_tests
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result TIMEOUT 60)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "${EXECUTABLE} --gtest_list_tests failed (${result}):\n${errors}")
endif()

# Suites are the lines that do not start with a space ("Suite." or
# "Prefix/Suite.  # TypeParam = ..."); their cases are indented below them.
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(script "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ #][^ ]*)\\.")
    set(suite "${CMAKE_MATCH_1}")
    string(APPEND script
      "add_test([==[${suite}]==] \"${EXECUTABLE}\" [==[--gtest_filter=${suite}.*]==])\n"
      "set_tests_properties([==[${suite}]==] PROPERTIES TIMEOUT ${TIMEOUT})\n")
  endif()
endforeach()
file(WRITE "${OUTPUT}" "${script}")
