# Keeps the game's layers pointing one way: a source file may include only its own
# folder and the folders beneath it. Run by the build before any library compiles
# (cmake -DSOURCE_DIR=... -P CheckLayers.cmake); an include that points up stops
# the build with the file, the line and the rule. The tools, fuzz targets, tests
# and benchmark stand on top and may include any layer. With -DCHECK_FILE=F and
# -DCHECK_AS=FOLDER it checks the one file F as if it stood in FOLDER.
cmake_minimum_required(VERSION 3.20)
set(PZ_LAYERS core platform io lock questions profiles app)
set(PZ_BENEATH_core "")
set(PZ_BENEATH_platform "")
set(PZ_BENEATH_io core platform)
set(PZ_BENEATH_lock io core platform)
set(PZ_BENEATH_questions io core platform)
set(PZ_BENEATH_profiles lock io core platform)
set(PZ_BENEATH_app questions profiles lock io core platform)

# Appends to PZ_FAULTS a line for every include of file that its folder may not make.
function(pz_check_file file folder shown)
  set(allowed ${folder} ${PZ_BENEATH_${folder}})
  file(STRINGS "${file}" lines)
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([a-z_]+)/")
      set(target ${CMAKE_MATCH_1})
      if(target IN_LIST PZ_LAYERS AND NOT target IN_LIST allowed)
        string(REPLACE ";" "/, " rule "${allowed}")
        string(APPEND PZ_FAULTS "${shown}:${number}: includes ${target}/, a layer above ${folder}/: "
                                "a file in ${folder}/ may include only ${rule}/\n")
      endif()
    endif()
  endforeach()
  set(PZ_FAULTS "${PZ_FAULTS}" PARENT_SCOPE)
endfunction()

set(PZ_FAULTS "")
if(DEFINED CHECK_FILE)
  get_filename_component(name "${CHECK_FILE}" NAME)
  pz_check_file("${CHECK_FILE}" "${CHECK_AS}" "${CHECK_AS}/${name}")
else()
  foreach(folder IN LISTS PZ_LAYERS)
    file(GLOB sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
    foreach(source IN LISTS sources)
      pz_check_file("${SOURCE_DIR}/${source}" ${folder} ${source})
    endforeach()
  endforeach()
endif()
if(PZ_FAULTS)
  message(FATAL_ERROR "an include points up the layers:\n${PZ_FAULTS}")
endif()
