# tavrine_add_session_test(NAME <name> COMMAND <cmd> [args...] [TIMEOUT <s>] [LABELS ...] [ENVIRONMENT ...])
# Registers a test that runs inside a private X + D-Bus session (run-in-session.sh). The harness gets a
# timeout a little shorter than CTest's so that it, not CTest, ends a hung test and tears the session down.
set(TAVRINE_RUN_IN_SESSION ${CMAKE_CURRENT_LIST_DIR}/run-in-session.sh CACHE INTERNAL "")
set(TAVRINE_HARNESS_DIR ${CMAKE_CURRENT_LIST_DIR} CACHE INTERNAL "")

function(tavrine_add_session_test)
  cmake_parse_arguments(arg "" "NAME;TIMEOUT" "COMMAND;LABELS;ENVIRONMENT;SESSION_OPTIONS" ${ARGN})
  if(NOT arg_NAME OR NOT arg_COMMAND)
    message(FATAL_ERROR "tavrine_add_session_test needs NAME and COMMAND")
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  math(EXPR inner "${arg_TIMEOUT} - 15")
  add_test(NAME ${arg_NAME}
           COMMAND ${TAVRINE_RUN_IN_SESSION} --timeout ${inner} ${arg_SESSION_OPTIONS} -- ${arg_COMMAND})
  set_tests_properties(${arg_NAME} PROPERTIES
    TIMEOUT ${arg_TIMEOUT}
    LABELS "session;${arg_LABELS}"
    ENVIRONMENT "TAVRINE_FACEDATA_DIR=${TAVRINE_FACEDATA_DIR};${arg_ENVIRONMENT}")
endfunction()
