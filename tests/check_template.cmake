# cmake -DCHECKER=lwtemplate -DSOURCE_DIR=root -P check_template.cmake
# lwtemplate check accepts the shipped template in one line, refuses a broken one naming section, key
# and problem, and refuses a missing file; a refusal is exit status 2.
function(run_checker template expected_status output_var)
  execute_process(COMMAND ${CHECKER} check ${template}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status STREQUAL expected_status)
    message(FATAL_ERROR "${template}: status ${status}, expected ${expected_status}\n${out}${err}")
  endif()
  set(${output_var} "${out}${err}" PARENT_SCOPE)
endfunction()

run_checker(${SOURCE_DIR}/resources/template.ini 0 shipped)
if(NOT shipped MATCHES "template.ini: template good: 2 rules, 1 creatable entry, [0-9]+ bytes\r?\n$")
  message(FATAL_ERROR "the shipped template drew:\n${shipped}")
endif()

run_checker(${SOURCE_DIR}/tests/data/refused-template.ini 2 refused)
foreach(expected
    "[config] mansecs: lists \"missing\", but there is no such section"
    "[config] mansecs: lists an empty section name"
    "[config] cresecs: lists \"auto.none\", but there is no such section"
    "[vpn1] id: \"PhoneNumber\" is not"
    "[vpn1] set: assignment 2 is empty"
    "[vpn1] set: assignment 3 \"SwCompression\" has no \"=\""
    "[vpn1] set: assignment 4 \"IpDnsSuffix=a=b\" has more than one \"=\""
    "[vpn1] set: assignment 5 \"=1\" has no key"
    "[vpn1] set: assignment 7 is empty"
    "[vpn2] id: is missing or empty"
    "[auto.vpn1.example.com] Guid: \"5E3A7C1D2B9F4A68B1C0D4E799002F3G\" is not"
    "template refused (11 problems)")
  string(FIND "${refused}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "missing \"${expected}\" in:\n${refused}")
  endif()
endforeach()

run_checker(${SOURCE_DIR}/tests/data/no-such-template.ini 2 missing)
if(NOT missing MATCHES "no-such-template.ini: no such file")
  message(FATAL_ERROR "a missing template drew:\n${missing}")
endif()
