# brt_test(NAME SOURCES ... LIBS ...): a GoogleTest binary registered with CTest. When the
# build is configured as root, the binary is registered a second time to run under an
# unprivileged uid, so tests tied to root or to an ordinary user both run.
find_program(BRT_SETPRIV setpriv)
execute_process(COMMAND id -u OUTPUT_VARIABLE BRT_CONFIGURING_UID OUTPUT_STRIP_TRAILING_WHITESPACE)
set(BRT_UNPRIVILEGED_RUNNER "")
if(BRT_CONFIGURING_UID STREQUAL "0" AND BRT_SETPRIV)
  set(BRT_UNPRIVILEGED_RUNNER ${BRT_SETPRIV} --reuid=65534 --regid=65534 --clear-groups --)
endif()

function(brt_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main
                                        brt_warnings)
  add_test(NAME ${name} COMMAND ${name})
  if(BRT_UNPRIVILEGED_RUNNER)
    add_test(NAME ${name}.unprivileged COMMAND ${BRT_UNPRIVILEGED_RUNNER} $<TARGET_FILE:${name}>)
  endif()
endfunction()
