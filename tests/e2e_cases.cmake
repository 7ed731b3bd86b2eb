# One CTest entry per case of an end-to-end script, the list of cases kept
# in the script alone (see tests/e2e/e2e_cases.py).
#
#   kolm_e2e_cases(NAME SCRIPT [ARGS arg...] [PROPERTIES prop value...])
#
# registers NAME.CASE (CASE without its case_ prefix) running
# `SCRIPT ARGS... case_CASE`, for every case `SCRIPT ARGS... --list`
# prints when ctest starts (the way gtest_discover_tests finds the tests of
# a test binary). ARGS may hold generator expressions. Every entry gets the
# label e2e besides what PROPERTIES say.
set(KOLM_E2E_PYTHON /usr/bin/python3) # Debian's, for its serial module

function(kolm_e2e_cases name script)
  cmake_parse_arguments(PARSE_ARGV 2 E2E "" "" "ARGS;PROPERTIES")
  set(command "[==[${KOLM_E2E_PYTHON}]==] [==[${script}]==]")
  foreach(arg IN LISTS E2E_ARGS)
    string(APPEND command " [==[${arg}]==]")
  endforeach()
  set(properties "LABELS e2e")
  foreach(item IN LISTS E2E_PROPERTIES)
    string(APPEND properties " [==[${item}]==]")
  endforeach()
  set(file "${CMAKE_CURRENT_BINARY_DIR}/${name}_cases.cmake")
  file(GENERATE OUTPUT "${file}" CONTENT
"# The cases of ${script}, asked of it when ctest starts.
execute_process(COMMAND ${command} --list OUTPUT_VARIABLE cases ERROR_VARIABLE error RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  # An entry that fails and shows why, rather than no entries at all.
  add_test([==[${name}.list]==] ${command} --list)
  set_tests_properties([==[${name}.list]==] PROPERTIES ${properties})
else()
  string(REGEX MATCHALL \"[^\\n]+\" cases \"\${cases}\")
  foreach(case IN LISTS cases)
    string(REGEX REPLACE \"^case_\" \"\" short \"\${case}\")
    set(test \"${name}.\${short}\")
    add_test(\"\${test}\" ${command} \"\${case}\")
    set_tests_properties(\"\${test}\" PROPERTIES ${properties})
  endforeach()
endif()
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${file}")
endfunction()
