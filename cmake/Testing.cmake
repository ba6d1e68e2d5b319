# brt_test(NAME SOURCES ... LIBS ...): a GoogleTest binary registered with CTest. Where
# setpriv exists, the binary is registered a second time, NAME.unprivileged, to run under an
# unprivileged uid whenever the tests run as root (whoever configured the build), so tests
# tied to root or to an ordinary user both run; run by anyone else, it is reported skipped.
find_program(BRT_SETPRIV setpriv)
set(BRT_UNPRIVILEGED_RUNNER "")
if(BRT_SETPRIV)
  set(BRT_UNPRIVILEGED_RUNNER sh ${CMAKE_CURRENT_LIST_DIR}/run_unprivileged.sh ${BRT_SETPRIV})
endif()

function(brt_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main
                                        brt_warnings)
  add_test(NAME ${name} COMMAND ${name})
  if(BRT_UNPRIVILEGED_RUNNER)
    add_test(NAME ${name}.unprivileged COMMAND ${BRT_UNPRIVILEGED_RUNNER} $<TARGET_FILE:${name}>)
    set_tests_properties(${name}.unprivileged PROPERTIES SKIP_RETURN_CODE 77)
  endif()
endfunction()
