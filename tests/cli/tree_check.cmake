# Runs `korvex tree` on a copy of the sample machine and checks the listing
# by its count and a few lines rather than all 56,533 of them:
#   cmake -DKORVEX=... -DSAMPLE=... -DWORK=... -P tree_check.cmake
file(REMOVE_RECURSE ${WORK})
file(COPY ${SAMPLE}/ DESTINATION ${WORK}/machine)
execute_process(COMMAND ${KORVEX} -m ${WORK}/machine tree
                OUTPUT_FILE ${WORK}/tree.txt ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "korvex tree exited with ${rc}: ${err}")
endif()
file(STRINGS ${WORK}/tree.txt lines)
list(LENGTH lines count)
set(failures "")
if(NOT count EQUAL 56533)
  string(APPEND failures "lines: ${count}, expected 56533\n")
endif()
set(unnumbered 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^- ")
    math(EXPR unnumbered "${unnumbered} + 1")
  endif()
endforeach()
# 50,535 numbers from 15000, less the 1024 the tree leaves to the host.
if(NOT unnumbered EQUAL 7022)
  string(APPEND failures "objects without a number: ${unnumbered}, expected 7022\n")
endif()
list(GET lines 0 first)
list(GET lines 15172 notInitFirst)
list(GET lines -1 last)
foreach(check
    "first|${first}|15000 mFILEOPER_ 0x19082 2 WORD 1"
    "first of the restart data|${notInitFirst}|30172 mszNotInitStr_ 0x00068 64 STRING 1"
    "last|${last}|- Sl_ErrorQue_49_SlErrorQueTime_ 0x4C774 4 QZLONGCARD 1")
  string(REPLACE "|" ";" fields "${check}")
  list(GET fields 0 what)
  list(GET fields 1 got)
  list(GET fields 2 want)
  if(NOT got STREQUAL want)
    string(APPEND failures "${what} line: '${got}', expected '${want}'\n")
  endif()
endforeach()
foreach(want
    "^[0-9]+ STATIME_Zt_Stunde_ 0x31F18 1 BYTE 1$"
    "^[0-9]+ mTOffer_"
    "^[0-9]+ TOOLTAB_ 0x00000 4 LONGINT 1$"
    "^[0-9]+ TOOLTABPTR_ 0x303B8 4 LONGINT 1$"
    "^- GraphicQue_31_GraphicStart_")
  set(found FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "${want}")
      set(found TRUE)
      break()
    endif()
  endforeach()
  if(NOT found)
    string(APPEND failures "no line matches ${want}\n")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
if(NOT err MATCHES "No more handle numbers")
  message(FATAL_ERROR "the host was not told that the numbers ran out: ${err}")
endif()
