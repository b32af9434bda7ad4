# The layer check stops an include that points up, naming the file, the line and
# the rule, and lets one that points down pass. Run by ctest:
# cmake -DSOURCE_DIR=... -DWORK_DIR=... -P layers_test.cmake
cmake_minimum_required(VERSION 3.20)
set(rows
  "io|profiles/score_record.h|includes profiles/, a layer above io/: a file in io/ may include only io/, core/, platform/"
  "platform|core/run_state.h|includes core/, a layer above platform/: a file in platform/ may include only platform/"
  "questions|app/verdict.h|includes app/, a layer above questions/"
  "profiles|questions/question_db.h|includes questions/, a layer above profiles/"
  "app|profiles/score_record.h|"
  "io|platform/platform.h|")
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 folder)
  list(GET fields 1 header)
  list(GET fields 2 expected)
  set(planted "${WORK_DIR}/planted.cpp")
  file(WRITE "${planted}" "// a file of ${folder}/\n#include \"${header}\"\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DCHECK_FILE=${planted} -DCHECK_AS=${folder}
                          -P ${SOURCE_DIR}/cmake/CheckLayers.cmake
                  RESULT_VARIABLE result ERROR_VARIABLE said OUTPUT_VARIABLE said)
  string(REGEX REPLACE "[ \n]+" " " said "${said}")
  if(expected STREQUAL "" AND NOT result EQUAL 0)
    message(FATAL_ERROR "${folder}/ including ${header} was refused: ${said}")
  elseif(NOT expected STREQUAL "" AND (result EQUAL 0 OR NOT said MATCHES "${folder}/planted.cpp:2: ${expected}"))
    message(FATAL_ERROR "${folder}/ including ${header} was not refused as it should be: ${said}")
  endif()
endforeach()
# And the tree as it stands keeps the rule.
execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -P ${SOURCE_DIR}/cmake/CheckLayers.cmake
                RESULT_VARIABLE result ERROR_VARIABLE said)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the tree breaks the layers: ${said}")
endif()
