# Runs one end-to-end script of the korvex tool and compares its output.
#
# A script holds verb lines for `korvex -k -f`. Lines starting with "#### run"
# split it into runs, each a new process on the same copy of the sample
# machine (so that caches written by one run are read by the next); words
# after "#### run" are extra options for that run. The expected file holds,
# per run, the "#### run" line, standard output, and standard error after a
# line "--- stderr" when there is any, then "--- exit N".
#
# A line "#### args ARGS" is a run without a script: `korvex -m MACHINE ARGS`
# (for options and verbs on the command line); the lines after it up to the
# next "####" line are ignored.
#
# Files a script needs besides the sample machine (broken machines, files to
# lint) stand in a directory NAME.files beside it and are copied to
# $WORK/files; the runs start in $WORK, so scripts name them files/...
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${SAMPLE}/ DESTINATION ${WORK}/machine)
file(GLOB caches ${WORK}/machine/*.BIN)
if(caches)
  file(REMOVE ${caches})
endif()
get_filename_component(script_dir ${SCRIPT} DIRECTORY)
get_filename_component(script_name ${SCRIPT} NAME_WE)
if(IS_DIRECTORY ${script_dir}/${script_name}.files)
  file(COPY ${script_dir}/${script_name}.files/ DESTINATION ${WORK}/files)
endif()

file(READ ${SCRIPT} text)
string(REPLACE ";" "\\;" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(runs "")
set(current "")
set(current_args "")
set(index 0)
set(have_run FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^#### (run|args)(.*)$")
    if(have_run)
      file(WRITE ${WORK}/run${index}.kvx "${current}")
      list(APPEND runs "${index}")
      set(args_${index} "${current_args}")
      math(EXPR index "${index} + 1")
    endif()
    set(have_run TRUE)
    set(kind_${index} ${CMAKE_MATCH_1})
    string(STRIP "${CMAKE_MATCH_2}" current_args)
    set(current "")
  else()
    set(have_run TRUE)
    string(APPEND current "${line}\n")
  endif()
endforeach()
file(WRITE ${WORK}/run${index}.kvx "${current}")
list(APPEND runs "${index}")
set(args_${index} "${current_args}")

set(actual "")
foreach(run IN LISTS runs)
  separate_arguments(extra UNIX_COMMAND "${args_${run}}")
  if(kind_${run} STREQUAL "args")
    set(script_args "")
  else()
    set(kind_${run} run)
    set(script_args -k -f run${run}.kvx)
  endif()
  execute_process(COMMAND ${KORVEX} -m ${WORK}/machine ${extra} ${script_args}
                  WORKING_DIRECTORY ${WORK}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  string(APPEND actual "#### ${kind_${run}} ${args_${run}}\n${out}")
  if(NOT err STREQUAL "")
    string(APPEND actual "--- stderr\n${err}")
  endif()
  string(APPEND actual "--- exit ${rc}\n")
  # A definition cache counts only when it is newer than the handle cache by
  # the two-second stamp. Dating the handle cache a day back after each run
  # makes the next run read both caches, however fast or slow the runs follow
  # each other (ten seconds were too few for a loaded machine).
  if(EXISTS ${WORK}/machine/HANDLES.BIN)
    execute_process(COMMAND touch -d "1 day ago" ${WORK}/machine/HANDLES.BIN)
  endif()
endforeach()
string(REPLACE "${WORK}" "$WORK" actual "${actual}")
# A halt names the library's source line, which moves with every edit there.
string(REGEX REPLACE "(halt in [a-z]+ line )[0-9]+" "\\1LINE" actual "${actual}")

get_filename_component(dir ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME_WE)
set(expected_file ${dir}/${name}.expected)
file(WRITE ${WORK}/actual.txt "${actual}")
if(NOT EXISTS ${expected_file})
  message(FATAL_ERROR "no ${expected_file}; the output was:\n${actual}")
endif()
file(READ ${expected_file} expected)
if(NOT expected STREQUAL actual)
  execute_process(COMMAND diff -u ${expected_file} ${WORK}/actual.txt OUTPUT_VARIABLE diff)
  message(FATAL_ERROR "output differs from ${expected_file}:\n${diff}")
endif()
