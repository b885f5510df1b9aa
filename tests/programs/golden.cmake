# One golden run: a Kova source, the kova command line, the exact standard
# output and the exit status.
#
#   cmake -DKOVA=... -DKOVAC=... -DSOURCE=dir/NAME.kova -DMODE=source|compiled|walked|errors
#         -DWORK=<scratch folder> -P golden.cmake
#
# The source's first comment may hold the lines "args: <kova options>",
# "status: <exit status>" (default 0) and "unless: <path>": the run is
# skipped where that path exists (a device the output was made without).
# NAME.expected holds the standard output (NAME.pattern a regular expression
# for it); NAME.input, when present, is the standard input. `source` runs
# `kova NAME.kova`; `compiled` runs `kovac NAME.kova -o NAME.ast`, then
# `kova NAME.ast`: both must give the same output. `walked` runs `kova
# NAME.kova` with the compiled evaluator off (KOVA_EVAL=walk): the tree
# walker must give the same output too; `scanned`, with the scheduler's plain
# scan instead of its index (KOVA_SCHEDULER=scan). NAME.stderr, when present, is the
# compiler's warnings on standard error (none in `compiled` mode, where
# kovac gives them). A file NAME--FILE.expected
# is compared with the file FILE the run leaves. `errors` runs kovac alone:
# NAME.expected is then its standard error, the status must be 1 and no
# program file may be left. The run's working folder is a scratch copy of
# the source's folder, so programs name their files relatively.
get_filename_component(dir ${SOURCE} DIRECTORY)
get_filename_component(name ${SOURCE} NAME_WE)
file(READ ${SOURCE} text)
set(args "")
set(status 0)
string(FIND "${text}" "*/" end)
if(end GREATER 0)
  string(SUBSTRING "${text}" 0 ${end} header)
  if(header MATCHES "args:([^\n]*)")
    string(STRIP "${CMAKE_MATCH_1}" args)
  endif()
  if(header MATCHES "status: *([0-9]+)")
    set(status ${CMAKE_MATCH_1})
  endif()
  if(header MATCHES "unless:([^\n]*)")
    string(STRIP "${CMAKE_MATCH_1}" absent)
    if(EXISTS "${absent}")
      message("golden run skipped: ${absent} exists on this machine")
      return()
    endif()
  endif()
endif()
separate_arguments(args UNIX_COMMAND "${args}")

set(work ${WORK}/${name}.${MODE})
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
file(COPY ${dir}/ DESTINATION ${work} PATTERN "*.expected" EXCLUDE PATTERN "*.cpp" EXCLUDE
     PATTERN "*.cmake" EXCLUDE PATTERN "*.input" EXCLUDE PATTERN "*.stderr" EXCLUDE)

set(input_option "")
if(EXISTS ${dir}/${name}.input)
  set(input_option INPUT_FILE ${dir}/${name}.input)
endif()

set(program ${name}.kova)
# (before `compiled` names a variable below)
set(wanted_err "")
if(EXISTS ${dir}/${name}.stderr AND NOT MODE STREQUAL "compiled")
  file(READ ${dir}/${name}.stderr wanted_err)
endif()
if(MODE STREQUAL "errors")
  execute_process(COMMAND ${KOVAC} ${name}.kova -o ${name}.ast WORKING_DIRECTORY ${work}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE result)
  file(READ ${dir}/${name}.expected expected)
  if(NOT err STREQUAL expected)
    file(WRITE ${work}/actual.txt "${err}")
    message(FATAL_ERROR "diagnostics differ from ${name}.expected "
                        "(diff ${dir}/${name}.expected ${work}/actual.txt)\n${err}")
  endif()
  if(NOT result EQUAL 1 OR NOT out STREQUAL "" OR EXISTS ${work}/${name}.ast)
    message(FATAL_ERROR "kovac: status ${result}, output \"${out}\", program file left: "
                        "expected status 1, no output, no file")
  endif()
  return()
endif()
if(MODE STREQUAL "compiled")
  execute_process(COMMAND ${KOVAC} ${name}.kova -o ${name}.ast WORKING_DIRECTORY ${work}
                  RESULT_VARIABLE compiled ERROR_VARIABLE diagnostics)
  if(NOT compiled EQUAL 0)
    message(FATAL_ERROR "kovac failed (${compiled}):\n${diagnostics}")
  endif()
  set(program ${name}.ast)
endif()

set(launcher "")
if(MODE STREQUAL "walked")
  set(launcher ${CMAKE_COMMAND} -E env KOVA_EVAL=walk)
endif()
if(MODE STREQUAL "scanned")
  set(launcher ${CMAKE_COMMAND} -E env KOVA_SCHEDULER=scan)
endif()
execute_process(COMMAND ${launcher} ${KOVA} ${args} ${program} WORKING_DIRECTORY ${work} ${input_option}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE result)
# NAME.pattern instead of NAME.expected: a regular expression for outputs
# that hold measured times.
if(EXISTS ${dir}/${name}.pattern)
  file(READ ${dir}/${name}.pattern pattern)
  if(NOT out MATCHES "^${pattern}$")
    message(FATAL_ERROR "standard output does not match ${name}.pattern:\n${out}\n${err}")
  endif()
  set(expected "${out}")
else()
  file(READ ${dir}/${name}.expected expected)
endif()
if(NOT out STREQUAL expected)
  file(WRITE ${work}/actual.txt "${out}")
  message(FATAL_ERROR "standard output differs from ${name}.expected "
                      "(diff ${dir}/${name}.expected ${work}/actual.txt)\n${out}\n${err}")
endif()
if(NOT result EQUAL status)
  message(FATAL_ERROR "exit status ${result}, expected ${status}\n${err}")
endif()
if(NOT err STREQUAL wanted_err)
  message(FATAL_ERROR "unexpected standard error:\n${err}")
endif()
file(GLOB expected_files ${dir}/${name}--*.expected)
foreach(expected_file ${expected_files})
  get_filename_component(file_name ${expected_file} NAME)
  string(REGEX REPLACE "^${name}--(.*)\\.expected$" "\\1" produced ${file_name})
  file(READ ${expected_file} wanted)
  file(READ ${work}/${produced} got)
  if(NOT got STREQUAL wanted)
    message(FATAL_ERROR "${produced} differs from ${file_name}:\n${got}")
  endif()
endforeach()
