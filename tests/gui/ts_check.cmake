# The English .ts must hold a finished translation of every text the code passes through tr()
# and nothing else: lupdate over the sources, run on a copy, must change nothing.
# -DLUPDATE=... -DSOURCE_DIR=<the program's sources> -DTS_FILE=<the .ts> -DWORK_DIR=<scratch>
# -DOPTIONS=<lupdate's options, ;-separated, as the build uses them>
file(READ ${TS_FILE} committed)
foreach(mark [[type="unfinished"]] [[type="vanished"]] [[type="obsolete"]])
    string(FIND "${committed}" "${mark}" at)
    if(NOT at EQUAL -1)
        message(FATAL_ERROR "${TS_FILE} has entries marked ${mark}")
    endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(copy ${WORK_DIR}/check.ts)
file(COPY_FILE ${TS_FILE} ${copy})
execute_process(COMMAND ${LUPDATE} ${SOURCE_DIR} -extensions cpp,h ${OPTIONS} -ts ${copy}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "lupdate failed (${rc}):\n${out}")
endif()
file(READ ${copy} updated)
if(NOT updated STREQUAL committed)
    execute_process(COMMAND diff -u ${TS_FILE} ${copy} OUTPUT_VARIABLE difference)
    message(FATAL_ERROR "${TS_FILE} is not up to date with the code (build the target "
                        "morv3dviewer_qt_lupdate, then translate what it marks unfinished):\n"
                        "${difference}")
endif()
