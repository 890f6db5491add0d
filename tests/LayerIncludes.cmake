# The layers' include roots, checked by ctest (tests/CMakeLists.txt); run with cmake -P.
#
# One layer: with the layer's own include directories and definitions, its own header is found
# and a header of each layer that is not below it is not.
#   CXX, ROOTS, DEFINES   the compiler; the layer's include directories and definitions, "|"-joined
#   OWN                   a header of the layer
#   FORBIDDEN             a header of each layer it must not see, "|"-joined
#   WORK                  a folder for the probes
#
# SRC set instead: every include of the tree that names a folder is written from src/ (it starts
# with one of TOPS, "|"-joined, and never climbs with ".."), so that no relative path reaches
# around the roots; an include without a folder names a file beside the includer.
cmake_minimum_required(VERSION 3.25)

if(DEFINED SRC)
  file(GLOB_RECURSE files ${SRC}/*.h ${SRC}/*.cpp)
  set(bad "")
  foreach(file IN LISTS files)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]*/")
    foreach(line IN LISTS lines)
      if(line MATCHES "\"([^\"]*)\"")
        set(path "${CMAKE_MATCH_1}")
        if(NOT path MATCHES "^(${TOPS})/" OR path MATCHES "(^|/)\\.\\./")
          file(RELATIVE_PATH name ${SRC} ${file})
          list(APPEND bad "${name}: ${path}")
        endif()
      endif()
    endforeach()
  endforeach()
  if(bad)
    list(JOIN bad "\n  " bad)
    message(FATAL_ERROR "includes not written from src/:\n  ${bad}")
  endif()
  return()
endif()

string(REPLACE "|" ";" roots "${ROOTS}")
string(REPLACE "|" ";" defines "${DEFINES}")
string(REPLACE "|" ";" forbidden "${FORBIDDEN}")
list(TRANSFORM roots PREPEND -I)
list(TRANSFORM defines PREPEND -D)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

set(failed "")
foreach(header IN LISTS forbidden)
  string(MAKE_C_IDENTIFIER "${header}" probe)
  file(WRITE ${WORK}/${probe}.cpp "#include \"${OWN}\"\n#include \"${header}\"\n")
  execute_process(COMMAND ${CXX} -std=c++20 -E ${defines} ${roots} ${WORK}/${probe}.cpp -o ${WORK}/${probe}.i
                  RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
  string(FIND "${err}" "${header}: No such file or directory" at)
  if(rc EQUAL 0 OR at EQUAL -1)
    list(APPEND failed "${header}")
    message("${header}: ${rc}\n${err}")
  else()
    message("${header}: not found, as it must not be")
  endif()
endforeach()
if(failed)
  list(JOIN failed ", " failed)
  message(FATAL_ERROR "the layer sees what lies above or beside it: ${failed}")
endif()
