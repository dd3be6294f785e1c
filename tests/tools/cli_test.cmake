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

# The same, with the exact output (standard output, then standard error) instead of a pattern.
# With SORTED the lines are compared in any order (the warnings of a walk come in the store's
# order, which is not the same in every store).
function(expect_exact expected_status expected_output)
  set(arguments ${ARGN})
  set(sorted FALSE)
  if(arguments MATCHES "^SORTED;")
    list(REMOVE_AT arguments 0)
    set(sorted TRUE)
  endif()
  execute_process(COMMAND ${EMULATOR} ${CLI} ${arguments}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REPLACE "\r\n" "\n" out "${out}")
  string(REPLACE "\r\n" "\n" err "${err}")
  set(actual "${out}${err}")
  if(sorted)
    foreach(text actual expected_output)
      # Brackets would hold list elements together: out of the way while sorting.
      string(REPLACE "[" "<open>" lines "${${text}}")
      string(REPLACE "]" "<close>" lines "${lines}")
      string(REPLACE "\n" ";" lines "${lines}")
      list(SORT lines)
      string(REPLACE ";" "\n" lines "${lines}")
      string(REPLACE "<open>" "[" lines "${lines}")
      string(REPLACE "<close>" "]" ${text} "${lines}")
    endforeach()
  endif()
  if(NOT status EQUAL expected_status OR NOT "${actual}" STREQUAL "${expected_output}")
    message(SEND_ERROR "tavixconnect ${ARGN}: exit ${status}, expected ${expected_status}; output\n"
                       "${out}${err}\nexpected\n${expected_output}")
  endif()
endfunction()

string(ASCII 9 tab)
string(ASCII 7 bel)
string(ASCII 27 esc)

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
expect_exact(1 "tavixconnect: not a connection string: \"nonsense\"\n" set Bad nonsense)
string(REPEAT "s" 250 long_server)
expect_exact(1 "tavixconnect: the connection string is longer than the store holds (255 bytes): \"cn_iptcp:${long_server}[1]\"\n"
             set Long "cn_iptcp:${long_server}[1]")
# Names the store cannot hold are refused before the store is touched, by set, show, delete
# and default alike, with the name (escaped) and the reason.
string(REPEAT "n" 256 long_name)
set(prefix "tavixconnect: the connection name")
foreach(command set show delete default)
  set(more "")
  if(command STREQUAL "set")
    set(more "cn_iptcp:h[1]")
  endif()
  expect_exact(1 "${prefix} \"A\\\\B\" contains a \"\\\"\n" ${command} "A\\B" ${more})
  expect_exact(1 "${prefix} \"a\\tb\" contains a control character\n" ${command} "a${tab}b" ${more})
  expect_exact(1 "${prefix} \"\\x1b(0red\" contains a control character\n" ${command} "${esc}(0red" ${more})
  expect_exact(1 "${prefix} \"${long_name}\" is longer than 255 bytes\n" ${command} "${long_name}" ${more})
endforeach()
if(NOT EMULATOR)
  # 128 characters, 256 bytes in the store's UTF-8.
  string(REPEAT "é" 128 long_accented)
  expect_exact(1 "${prefix} \"${long_accented}\" is longer than 255 bytes\n" set "${long_accented}" "cn_iptcp:h[1]")
endif()
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
# The export imports back byte for byte.
expect_run(0 "" export -o "${scratch}/again.reg")
file(READ "${exported}" first HEX)
file(READ "${scratch}/again.reg" again HEX)
if(NOT first STREQUAL again)
  message(SEND_ERROR "export, import, export: the two exports differ")
endif()

# A file that reaches outside the connections key, deletes a key above it or names a
# connection the store cannot hold is refused whole: nothing of it lands.
set(listed "  Work    cn_iptcp:db1[1972]:SALES\n* Quoted  cn_iptcp:q[2]:USER\n  Zeta    cn_iptcp:z[1]:USER\n")
set(new_key "[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\New]\n@=\"cn_iptcp:n[1]\"\n")
set(outside " is outside HKEY_CURRENT_USER\\Software\\Vantorin\\Connections, the only key this file may change")
file(WRITE "${scratch}/outside.reg" "REGEDIT4\n\n${new_key}[HKEY_CURRENT_USER\\Software\\Other]\n@=\"x\"\n")
file(WRITE "${scratch}/above.reg" "REGEDIT4\n\n${new_key}[-HKEY_CURRENT_USER\\Software]\n")
file(WRITE "${scratch}/name.reg" "REGEDIT4\n\n${new_key}[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\a${tab}b]\n")
file(WRITE "${scratch}/default.reg" "REGEDIT4\n\n${new_key}[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\n@=\"x\\ny\"\n")
foreach(case
    "outside.reg:5: HKEY_CURRENT_USER\\Software\\Other${outside}"
    "above.reg:5: deleting HKEY_CURRENT_USER\\Software would delete HKEY_CURRENT_USER\\Software\\Vantorin\\Connections with it"
    "name.reg:5: the connection name \"a\\tb\" contains a control character"
    "default.reg:6: the default connection's name \"x\\ny\" contains a control character")
  string(REGEX REPLACE ":.*" "" file "${case}")
  expect_exact(1 "tavixconnect: ${scratch}/${case}\n" import "${scratch}/${file}")
  expect_exact(0 "${listed}" list)
endforeach()

# The Connections dialog: usage is checked everywhere; on Linux there is no window system to
# show it in. (Under Wine the dialog would wait for a user: it is driven by its own test.)
expect_run(2 "dialog takes \\[--name N\\]" dialog Work)
expect_run(2 "--title needs a value" dialog --title)
expect_run(2 "unknown option '--icon' for dialog" dialog --icon x)
if(NOT EMULATOR)
  # No display named, and a display named that cannot be opened.
  set(display "$ENV{DISPLAY}")
  unset(ENV{DISPLAY})
  expect_run(3 "^tavixconnect: no window system is available to show the dialog\n$"
             dialog --name Work --connstring "cn_iptcp:h[1]" --title T --no-icon)
  set(ENV{DISPLAY} ":97")
  expect_run(3 "^tavixconnect: no window system is available to show the dialog\n$" dialog)
  set(ENV{DISPLAY} "${display}")
endif()

# Names and strings from the store reach the terminal escaped; entries the library cannot use
# are named on standard error, one warning line each, and left out.
file(WRITE "${scratch}/odd.reg" "REGEDIT4\n\n"
     "[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Esc]\n@=\"cn_iptcp:h[1]:NS${esc}[2J\"\n"
     "[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Broken]\n@=\"nonsense${esc}]0:title${bel}\"\n"
     "[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Empty]\n\"IconIndex\"=dword:00000001\n"
     "[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\_VRConn1]\n@=\"Legacy${esc}x\"\n\"ConnString\"=\"cn_iptcp:l[1]\"\n")
expect_run(0 "" import "${scratch}/odd.reg")
# Table order: the bucket of the name's hash (Work 0, Esc 2, Quoted 6, Zeta 9).
string(CONCAT listed_odd
       "  Work    cn_iptcp:db1[1972]:SALES\n  Esc     cn_iptcp:h[1]:NS\\x1b[2J\n* Quoted  cn_iptcp:q[2]:USER\n"
       "  Zeta    cn_iptcp:z[1]:USER\n"
       "tavixconnect: warning: skipped \"Broken\": not a connection string: \"nonsense\\x1b]0:title\\x07\"\n"
       "tavixconnect: warning: skipped \"Empty\": it has no connection string\n"
       "tavixconnect: warning: skipped \"_VRConn1\": its name contains a control character\n")
expect_exact(0 "${listed_odd}" SORTED list)
expect_exact(0 "name:       Esc\nconnection: cn_iptcp:h[1]:NS\\x1b[2J\ndefault:    no\n" show esc)
expect_exact(1 "tavixconnect: the connection \"Broken\" cannot be used: not a connection string: \"nonsense\\x1b]0:title\\x07\"\n"
             show Broken)
file(WRITE "${scratch}/odd-gone.reg" "REGEDIT4\n\n"
     "[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Esc]\n[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Broken]\n"
     "[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Empty]\n[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\_VRConn1]\n")
expect_run(0 "" import "${scratch}/odd-gone.reg")
expect_exact(0 "${listed}" list)

# The names' column is as wide as the widest name in characters, not bytes (8-bit text is
# UTF-8 here; on Windows it is the ANSI code page, which a test file cannot count on).
if(NOT EMULATOR)
  file(WRITE "${scratch}/wide.reg" "REGEDIT4\n\n"
       "[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Zürich-Süd]\n@=\"cn_iptcp:zh[1]\"\n")
  expect_run(0 "" import "${scratch}/wide.reg")
  string(CONCAT listed_wide
         "  Work        cn_iptcp:db1[1972]:SALES\n* Quoted      cn_iptcp:q[2]:USER\n"
         "  Zeta        cn_iptcp:z[1]:USER\n  Zürich-Süd  cn_iptcp:zh[1]\n")
  expect_exact(0 "${listed_wide}" SORTED list)
  expect_exact(0 "" delete "Zürich-Süd")
endif()

# For scripts: JSON that parses whatever a name or a string holds, with the parts of the string,
# the icon and the default.
file(WRITE "${scratch}/json.reg" "REGEDIT4\n\n"
     "[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Say \"hi\"]\n@=\"cn_iptcp:h[1]:NS${esc}[2J\"\n"
     "\"IconFilename\"=\"C:\\\\icons\\\\a.ico\"\n\"IconIndex\"=dword:00000002\n")
expect_run(0 "" import "${scratch}/json.reg")
function(expect_json expected)
  # Compared as data, the tool's output piped into Python's parser: the order of list's
  # entries is the table's.
  execute_process(COMMAND ${EMULATOR} ${CLI} ${ARGN}
                  COMMAND python3 -c "import json, sys
got = json.loads(sys.stdin.buffer.read().decode('utf-8'))
want = json.loads(sys.argv[1])
key = lambda c: c['name']
if isinstance(got, list): got, want = sorted(got, key=key), sorted(want, key=key)
sys.exit(0 if got == want else 'got ' + json.dumps(got))" "${expected}"
                  RESULTS_VARIABLE statuses OUTPUT_VARIABLE out ERROR_VARIABLE why)
  if(NOT statuses STREQUAL "0;0")
    message(SEND_ERROR "tavixconnect ${ARGN}: exits ${statuses}: ${why}")
  endif()
endfunction()
set(json_work "{\"name\": \"Work\", \"connectionString\": \"cn_iptcp:db1[1972]:SALES\", \"server\": \"db1\", \"port\": \"1972\", \"namespace\": \"SALES\", \"iconFile\": null, \"iconIndex\": null, \"default\": false}")
set(json_say "{\"name\": \"Say \\\"hi\\\"\", \"connectionString\": \"cn_iptcp:h[1]:NS\\u001b[2J\", \"server\": \"h\", \"port\": \"1\", \"namespace\": \"NS\\u001b[2J\", \"iconFile\": \"C:\\\\icons\\\\a.ico\", \"iconIndex\": 2, \"default\": false}")
set(json_quoted "{\"name\": \"Quoted\", \"connectionString\": \"cn_iptcp:q[2]:USER\", \"server\": \"q\", \"port\": \"2\", \"namespace\": \"USER\", \"iconFile\": null, \"iconIndex\": null, \"default\": true}")
set(json_zeta "{\"name\": \"Zeta\", \"connectionString\": \"cn_iptcp:z[1]:USER\", \"server\": \"z\", \"port\": \"1\", \"namespace\": \"USER\", \"iconFile\": null, \"iconIndex\": null, \"default\": false}")
expect_json("[${json_work}, ${json_say}, ${json_quoted}, ${json_zeta}]" list --json)
expect_json("${json_say}" show "Say \"hi\"" --json)
expect_run(1 "no connection named \"Nobody\"" show Nobody --json)

# rename and copy keep the connection string and the icon; a rename takes the default along,
# a change of case alone is a rename, and a name that is taken or cannot be stored is refused.
expect_run(0 "" rename Quoted Renamed)
expect_run(0 "" copy "Say \"hi\"" Copied)
string(REPLACE "\"Quoted\"" "\"Renamed\"" json_renamed "${json_quoted}")
string(REPLACE "Say \\\"hi\\\"" "Copied" json_copied "${json_say}")
expect_json("[${json_work}, ${json_say}, ${json_renamed}, ${json_zeta}, ${json_copied}]" list --json)
expect_run(0 "" rename copied COPIED)
expect_run(0 "^name:       COPIED\n" show copied)
expect_run(1 "a connection named \"Work\" exists already" rename Zeta WORK)
expect_run(1 "a connection named \"Zeta\" exists already" copy Work Zeta)
expect_run(1 "no connection named \"Nobody\"" rename Nobody Somebody)
expect_run(1 "contains a \"\\\\\"" copy Work "a\\b")
expect_run(2 "rename takes OLD NEW" rename Work)
expect_run(0 "" rename Renamed Quoted)
expect_run(0 "" delete COPIED)
file(WRITE "${scratch}/json-gone.reg" "REGEDIT4\n\n[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\Say \"hi\"]\n")
expect_run(0 "" import "${scratch}/json-gone.reg")
expect_exact(0 "${listed}" list)

# list prints each connection string as the library splits and joins it: what stands in front
# of the protocol, blanks and a colon with nothing after it go; a string already so stays.
set(key "[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections")
set(forms
    "N1|  cn_iptcp:a[1] : NS|cn_iptcp:a[1]:NS"
    "N2|cn_iptcp:b[2]:|cn_iptcp:b[2]"
    "N3|\\\"q\\\" cn_iptcp:c[3]:X|cn_iptcp:c[3]:X"
    "N4|cn_iptcp:d[4]: X|cn_iptcp:d[4]:X"
    "N5|cn_iptcp:e[5] NS |cn_iptcp:e[5]:NS "
    "N6|cn_iptcp:f[6]::x|cn_iptcp:f[6]::x"
    "N7|:cn_iptcp:g[7]|cn_iptcp:g[7]"
    "N8|cn_iptcp:h[8]:NS${tab}|cn_iptcp:h[8]:NS\\t"
    "N9|cn_:x[9]|cn_:x[9]"
    "N0|Named:cn_iptcp:j[10]:Y|cn_iptcp:j[10]:Y")
set(forms_reg "REGEDIT4\n\n")
set(forms_gone "REGEDIT4\n\n")
set(listed_forms "${listed}")
foreach(form ${forms})
  # Split at "|" with string functions: brackets would hold list elements together.
  string(REGEX REPLACE "\\|.*" "" name "${form}")
  string(REGEX REPLACE "^[^|]*\\|([^|]*)\\|.*" "\\1" stored "${form}")
  string(REGEX REPLACE "^[^|]*\\|[^|]*\\|" "" shown "${form}")
  string(APPEND forms_reg "${key}\\${name}]\n@=\"${stored}\"\n")
  string(APPEND forms_gone "[-HKEY_CURRENT_USER\\Software\\Vantorin\\Connections\\${name}]\n")
  string(APPEND listed_forms "  ${name}      ${shown}\n")
endforeach()
file(WRITE "${scratch}/forms.reg" "${forms_reg}")
file(WRITE "${scratch}/forms-gone.reg" "${forms_gone}")
expect_run(0 "" import "${scratch}/forms.reg")
expect_exact(0 "${listed_forms}" SORTED list)
expect_run(0 "" import "${scratch}/forms-gone.reg")
expect_exact(0 "${listed}" list)

# The name as the store keeps it, whatever the case asked for; icons.
expect_run(0 "" set Iconic "cn_iptcp:i[3]" --icon "${scratch}/some.ico" --index 7)
expect_run(0 "^name:       Iconic\nconnection: cn_iptcp:i\\[3\\]:USER\ndefault:    no\nicon:       [^\n]*some.ico, index 7\n$" show ICONIC)
expect_exact(0 "" default iconic)
expect_exact(0 "Iconic\n" default)
expect_exact(0 "" default Quoted)
expect_exact(0 "" delete iconic)
expect_exact(0 "${listed}" list)
# A default that names no connection is no default.
file(WRITE "${scratch}/ghost.reg" "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vantorin\\Connections]\n@=\"Ghost\"\n")
expect_run(0 "" import "${scratch}/ghost.reg")
expect_exact(1 "tavixconnect: no default connection: the store names \"Ghost\", which is not a usable connection\n" default)
expect_exact(0 "" default Quoted)

if(NOT EMULATOR)
  set(store "${scratch}/tavixconnect/registry.db")
  # A store that other users can read is used, with one warning line at every store command.
  file(CHMOD "${store}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  expect_run(0 "^  Work    [^\n]+\n\\* Quoted  [^\n]+\n  Zeta    [^\n]+\ntavixconnect: warning: [^\n]+\n$" list)
  expect_run(0 "^Quoted\ntavixconnect: warning: [^\n]+\n$" default)
  expect_run(0 "^store: ${store}\nstate: ok\nwarning: [^\n]+\n$" where)
  file(CHMOD "${store}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
  expect_exact(0 "Quoted\n" default)

  # Looking where the store is makes none.
  set(fresh "${scratch}/fresh")
  file(MAKE_DIRECTORY "${fresh}")
  set(ENV{XDG_CONFIG_HOME} "${fresh}")
  expect_exact(0 "store: ${fresh}/tavixconnect/registry.db\nstate: no store yet (the file is made at the first save)\n" where)
  file(GLOB_RECURSE left "${fresh}/*")
  file(GLOB left_dirs LIST_DIRECTORIES true "${fresh}/*")
  if(left OR left_dirs)
    message(SEND_ERROR "where left files behind: ${left} ${left_dirs}")
  endif()
  set(ENV{XDG_CONFIG_HOME} "${scratch}")
endif()

# A store file that is not a database is named with the reason, and left as it is.
if(NOT EMULATOR)
  expect_run(0 "^store: ${scratch}/tavixconnect/registry.db\nstate: ok\n$" where)
  file(REMOVE "${store}-wal" "${store}-shm")
  file(WRITE "${store}" "this is not a database, and it must stay as it is\n")
  expect_run(4 "cannot use the connection store ${store}: .+" list)
  expect_run(4 "^store: ${store}\nstate: unusable: .+" where)
  expect_run(4 "cannot use the connection store ${store}" set New "cn_iptcp:n[1]")
  expect_run(4 "cannot use the connection store ${store}" show Quoted)
  expect_run(4 "cannot use the connection store ${store}" export)
  file(READ "${store}" after)
  if(NOT after STREQUAL "this is not a database, and it must stay as it is\n")
    message(SEND_ERROR "the unusable store file was changed")
  endif()
endif()
file(REMOVE_RECURSE "${scratch}")
