# The README's quick start, as written: its program, run from source and
# through kovac, prints its output block; its error example is what kovac
# reports.
#   cmake -DREADME=... -DKOVA=... -DKOVAC=... -DWORK=... -P readme_quickstart.cmake
file(READ ${README} readme)
function(readme_block marker out)
  string(FIND "${readme}" "<!-- ${marker} -->\n```\n" at)
  if(at LESS 0)
    message(FATAL_ERROR "README: no block after <!-- ${marker} -->")
  endif()
  string(LENGTH "<!-- ${marker} -->\n```\n" skip)
  math(EXPR at "${at} + ${skip}")
  string(SUBSTRING "${readme}" ${at} -1 rest)
  string(FIND "${rest}" "```\n" end)
  string(SUBSTRING "${rest}" 0 ${end} text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
readme_block("quick start program" program)
readme_block("quick start output" expected)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(WRITE ${WORK}/hello.kova "${program}")
execute_process(COMMAND ${KOVA} -q -t 250 hello.kova WORKING_DIRECTORY ${WORK}
                OUTPUT_VARIABLE out RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "kova hello.kova (status ${status}) printed:\n${out}")
endif()
execute_process(COMMAND ${KOVAC} hello.kova -o hello.ast WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE status)
execute_process(COMMAND ${KOVA} -q -t 250 hello.ast WORKING_DIRECTORY ${WORK}
                OUTPUT_VARIABLE out)
if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
  message(FATAL_ERROR "kovac, then kova hello.ast printed:\n${out}")
endif()

# The error example: the program with n = m.
string(REPLACE "n = n + 1" "n = m + 1" broken "${program}")
file(WRITE ${WORK}/hello.kova "${broken}")
file(REMOVE ${WORK}/hello.ast)
execute_process(COMMAND ${KOVAC} hello.kova WORKING_DIRECTORY ${WORK}
                ERROR_VARIABLE err RESULT_VARIABLE status)
string(FIND "${readme}" "${err}" shown)
if(NOT status EQUAL 1 OR shown LESS 0 OR EXISTS ${WORK}/hello.ast)
  message(FATAL_ERROR "kovac's report (status ${status}) is not the README's:\n${err}")
endif()
