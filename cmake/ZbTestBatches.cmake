# Included by ctest (TEST_INCLUDE_FILES): asks a GoogleTest executable for its tests (through
# the cross-compiling emulator, so typed and parameterised tests are found too) and adds them
# as a few processes instead of one per test, because under CPU emulation every process start
# costs about a minute:
#   <prefix>.nogl        every test of a suite whose name does not end in GL, in one process;
#   <prefix>.gl.<n>      tests of *GL suites (they open OpenGL contexts) in batches of
#                        BATCH_SIZE, since GL state that builds up in one emulated 32-bit
#                        process eventually kills it; one batch at a time on the display.
# Set by the generating CMakeLists: EXE, EMULATOR, PREFIX, BATCH_SIZE, TIMEOUT, EXCLUDE_REGEX.
set(_list "${EXE}.tests.txt")
if(NOT EXISTS "${_list}" OR "${EXE}" IS_NEWER_THAN "${_list}")
  execute_process(COMMAND ${EMULATOR} "${EXE}" --gtest_list_tests OUTPUT_VARIABLE _out
                  RESULT_VARIABLE _rc TIMEOUT 900)
  if(NOT _rc EQUAL 0)
    add_test(${PREFIX}.discovery "${CMAKE_COMMAND}" -E echo "listing the tests of ${EXE} failed: ${_rc}")
    set_tests_properties(${PREFIX}.discovery PROPERTIES WILL_FAIL TRUE)
    return()
  endif()
  string(REPLACE "\r" "" _out "${_out}")
  string(REPLACE "\n" ";" _lines "${_out}")
  set(_names)
  set(_suite)
  foreach(_line IN LISTS _lines)
    string(REGEX REPLACE " *#.*$" "" _line "${_line}")
    if(_line MATCHES "^([A-Za-z0-9_/]+)\\.$")
      set(_suite "${CMAKE_MATCH_1}")
    elseif(_line MATCHES "^  ([A-Za-z0-9_/]+)$" AND _suite)
      list(APPEND _names "${_suite}.${CMAKE_MATCH_1}")
    endif()
  endforeach()
  file(WRITE "${_list}" "${_names}")
endif()
file(READ "${_list}" _names)

set(_nogl)
set(_gl)
foreach(_t IN LISTS _names)
  if(EXCLUDE_REGEX AND _t MATCHES "${EXCLUDE_REGEX}")
    continue()
  elseif(_t MATCHES "^[A-Za-z0-9_]*GL(/[0-9]+)?\\.")
    list(APPEND _gl "${_t}")
  else()
    list(APPEND _nogl "${_t}")
  endif()
endforeach()

function(_zb_add_batch name tests)
  string(REPLACE ";" ":" _filter "${tests}")
  add_test(${name} ${EMULATOR} "${EXE}" --gtest_brief=1 "--gtest_filter=${_filter}")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${TIMEOUT} SKIP_RETURN_CODE 77)
endfunction()

# GL tests show windows and read the screen back: two such processes at once could cover each
# other's windows, so they take turns on the display.
function(_zb_add_gl_batch name tests)
  _zb_add_batch(${name} "${tests}")
  set_tests_properties(${name} PROPERTIES RESOURCE_LOCK zb_display)
endfunction()

if(_nogl)
  _zb_add_batch(${PREFIX}.nogl "${_nogl}")
endif()
set(_batch)
set(_n 0)
foreach(_t IN LISTS _gl)
  list(APPEND _batch "${_t}")
  list(LENGTH _batch _len)
  if(_len EQUAL BATCH_SIZE)
    math(EXPR _n "${_n} + 1")
    _zb_add_gl_batch(${PREFIX}.gl.${_n} "${_batch}")
    set(_batch)
  endif()
endforeach()
if(_batch)
  math(EXPR _n "${_n} + 1")
  _zb_add_gl_batch(${PREFIX}.gl.${_n} "${_batch}")
endif()
