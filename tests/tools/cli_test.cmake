# The command-line tool, run as a user runs it: answers on standard output, one line naming
# what was wrong on standard error, and the exit status.
#   cmake -DCLI=path/to/tavixconnect [-DEMULATOR=wine64] -P cli_test.cmake
set(failures 0)

function(expect_run expected_status expected_output)
  execute_process(COMMAND ${EMULATOR} ${CLI} ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r\n" "\n" out "${out}")
  string(REPLACE "\r\n" "\n" err "${err}")
  set(shown "tavixconnect ${ARGN}")
  if(NOT status EQUAL expected_status)
    message(SEND_ERROR "${shown}: exit ${status}, expected ${expected_status}\n${out}${err}")
  elseif(NOT "${out}${err}" MATCHES "${expected_output}")
    message(SEND_ERROR "${shown}: output\n${out}${err}\ndoes not match\n${expected_output}")
  endif()
  if(out STREQUAL "" AND NOT expected_status EQUAL 0)
    # A failure is one line on standard error.
    string(REGEX MATCHALL "\n" lines "${err}")
    list(LENGTH lines count)
    if(NOT count EQUAL 1)
      message(SEND_ERROR "${shown}: expected one line on standard error, got:\n${err}")
    endif()
  endif()
endfunction()

expect_run(0 "^usage: tavixconnect COMMAND" --help)
expect_run(0 "^tavixconnect [0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+\n$" --version)
expect_run(2 "no command given")
expect_run(2 "unknown command 'frobnicate'" frobnicate)
expect_run(2 "unknown option '--frobnicate'" --frobnicate)
expect_run(2 "split takes CONNSTRING" split)
expect_run(2 "split takes CONNSTRING" split a b)
expect_run(2 "equivalent takes A B" equivalent a)
expect_run(2 "make takes SERVERPART" make a b c)

expect_run(0 "^server part:    cn_iptcp:db1\\[1972\\]\nnamespace part: SALES\n$"
           split "\"My DB\" cn_iptcp:db1[1972]:SALES")
expect_run(0 "^server part:    cn_iptcp:127.0.0.1\\[1972\\]\nnamespace part: \n$"
           split "cn_iptcp:127.0.0.1[1972]")
expect_run(1 "not a connection string: \"Name:cn_iptcp:h\\[1\\]\"" split "Name:cn_iptcp:h[1]")

expect_run(0 "^cn_iptcp:h\\[1\\]:NS\n$" make "cn_iptcp:h[1]" NS)
expect_run(0 "^cn_iptcp:h\\[1\\]\n$" make "cn_iptcp:h[1]")

# Empty arguments (which a CMake argument list cannot carry through a function call).
execute_process(COMMAND ${EMULATOR} ${CLI} make "" NS RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT err MATCHES "the server part is empty")
  message(SEND_ERROR "tavixconnect make \"\" NS: exit ${status}: ${err}")
endif()
execute_process(COMMAND ${EMULATOR} ${CLI} split "" RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 1 OR NOT err MATCHES "not a connection string: \"\"")
  message(SEND_ERROR "tavixconnect split \"\": exit ${status}: ${err}")
endif()

expect_run(0 "^equivalent\n$" equivalent "cn_iptcp:h[1]" "cn_iptcp:h[1]:USER")
expect_run(1 "^not equivalent\n$" equivalent "cn_iptcp:h[1]" "cn_iptcp:h[1]:user")
