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

# ---- The user's connections -----------------------------------------------------------------
# On Linux the store of this test is a configuration directory of its own; under Wine it is the
# registry of the prefix made for the test run.
set(scratch "${CMAKE_CURRENT_BINARY_DIR}/cli-test-store")
file(REMOVE_RECURSE "${scratch}")
file(MAKE_DIRECTORY "${scratch}")
set(ENV{XDG_CONFIG_HOME} "${scratch}")
# Start from no connections (under Wine other tests of the run have used the store).
file(WRITE "${scratch}/clear.reg"
     "REGEDIT4\n\n[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\n")
expect_run(0 "" import "${scratch}/clear.reg")

expect_run(0 "" set Zeta "cn_iptcp:z[1]")
expect_run(0 "" set Work "cn_iptcp:db1[1972]:SALES")
expect_run(0 "" set Quoted "Other:cn_iptcp:q[2]")
expect_run(1 "not stored: not a connection string: \"nonsense\"" set Bad nonsense)
expect_run(1 "not stored: a connection name holds at most 255 bytes and no \"\\\\\"" set "A\\B" "cn_iptcp:h[1]")
string(REPEAT "s" 250 long_server)
expect_run(1 "not stored: its connection string would be over 255 bytes" set Long "cn_iptcp:${long_server}[1]")
expect_run(2 "--index goes with --icon" set Work "cn_iptcp:h[1]" --index 2)
expect_run(2 "--index takes a whole number, not \"2a\"" set Work "cn_iptcp:h[1]" --icon x.ico --index 2a)
expect_run(2 "unknown option '--frob' for set" set Work "cn_iptcp:h[1]" --frob)
# Table order: the bucket of the name's hash (Work 0, Quoted 6, Zeta 9); * marks the default.
expect_run(0 "^  Work    cn_iptcp:db1\\[1972\\]:SALES\n  Quoted  cn_iptcp:q\\[2\\]:USER\n\\* Zeta    cn_iptcp:z\\[1\\]:USER\n$" list)
expect_run(0 "^name:       Work\nconnection: cn_iptcp:db1\\[1972\\]:SALES\ndefault:    no\n$" show Work)
expect_run(1 "no connection named \"Missing\"" show Missing)
expect_run(0 "^Work\n$" name "cn_iptcp:db1[1972]:SALES")
expect_run(1 "no connection matches \"cn_iptcp:none\\[1\\]\"" name "cn_iptcp:none[1]")
expect_run(0 "^Zeta\n$" default)
expect_run(0 "" default Quoted)
expect_run(1 "no connection named \"Missing\"" default Missing)
expect_run(0 "^Quoted\n$" default)

# Export, delete, import: the same connections again.
set(exported "${scratch}/connections.reg")
expect_run(0 "" export -o "${exported}")
file(READ "${exported}" head LIMIT 4 HEX)
if(NOT head STREQUAL "fffe5700")
  message(SEND_ERROR "export: not UTF-16LE with a byte order mark: ${head}")
endif()
expect_run(0 "" delete Work)
expect_run(1 "no connection named \"Work\"" delete Work)
expect_run(0 "^\\* Quoted  cn_iptcp:q\\[2\\]:USER\n  Zeta    cn_iptcp:z\\[1\\]:USER\n$" list)
file(WRITE "${scratch}/bad.reg" "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software]\n")
expect_run(1 "bad.reg:3: " import "${scratch}/bad.reg")
expect_run(0 "" import "${exported}")
expect_run(0 "^  Work    cn_iptcp:db1\\[1972\\]:SALES\n\\* Quoted  cn_iptcp:q\\[2\\]:USER\n  Zeta    cn_iptcp:z\\[1\\]:USER\n$" list)
expect_run(1 "cannot read " import "${scratch}/missing.reg")

# The Connections dialog: usage is checked everywhere; on Linux there is no window system to
# show it in. (Under Wine the dialog would wait for a user: it is driven by its own test.)
expect_run(2 "dialog takes \\[--name N\\]" dialog Work)
expect_run(2 "--title needs a value" dialog --title)
expect_run(2 "unknown option '--icon' for dialog" dialog --icon x)
if(NOT EMULATOR)
  expect_run(3 "^tavixconnect: no window system is available to show the dialog\n$"
             dialog --name Work --connstring "cn_iptcp:h[1]" --title T --no-icon)
endif()

# A store file that is not a database is named with the reason, and left as it is.
if(NOT EMULATOR)
  expect_run(0 "^store: ${scratch}/tavixconnect/registry.db\nstate: ok\n$" where)
  set(store "${scratch}/tavixconnect/registry.db")
  file(REMOVE "${store}-wal" "${store}-shm")
  file(WRITE "${store}" "this is not a database, and it must stay as it is\n")
  expect_run(1 "cannot use the connection store ${store}: .+" list)
  expect_run(1 "^store: ${store}\nstate: unusable: .+" where)
  expect_run(1 "cannot use the connection store ${store}" set New "cn_iptcp:n[1]")
  file(READ "${store}" after)
  if(NOT after STREQUAL "this is not a database, and it must stay as it is\n")
    message(SEND_ERROR "the unusable store file was changed")
  endif()
endif()
file(REMOVE_RECURSE "${scratch}")
