# The manual page lints clean: groff with all warnings on says nothing (mandoc -Tlint too,
# where it is installed), and no request is glued to the end of a text line, where it would
# print as text ("refused..TP") instead of starting a paragraph.
#   cmake -DPAGE=<vortle.1> -P ManLint.cmake
cmake_minimum_required(VERSION 3.25) # run by cmake -P: the policies are this version's
find_program(GROFF groff)
if(GROFF)
  execute_process(COMMAND ${GROFF} -man -ww -z ${PAGE} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
    message(FATAL_ERROR "groff warns about ${PAGE}:\n${out}")
  endif()
endif()
find_program(MANDOC mandoc)
if(MANDOC)
  execute_process(COMMAND ${MANDOC} -Tlint -Wwarning ${PAGE} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "mandoc -Tlint warns about ${PAGE}:\n${out}")
  endif()
endif()
file(STRINGS ${PAGE} lines)
set(n 0)
foreach(line IN LISTS lines)
  math(EXPR n "${n} + 1")
  if(NOT line MATCHES "^[.']" AND
     line MATCHES "\\.(TH|SH|SS|PP|LP|P|TP|IP|RS|RE|EX|EE|B|I|BR|RB|BI|IB|IR|RI|SM|UR|UE)$")
    message(FATAL_ERROR "${PAGE}:${n}: a request glued to the end of a text line: ${line}")
  endif()
endforeach()
message(STATUS "${PAGE}: lints clean")
