# Files made from the programs themselves at build time, so they cannot drift from them:
#   cmake -DWHAT=man -DPROGRAM=<exe> -DNAME=<name> -DSUMMARY=<text> -DSEE_ALSO=<page>
#         -DHELP2MAN=<exe> -DGZIP=<exe> -DOUT=<file.1.gz> -P generate.cmake
#   cmake -DWHAT=completion -DPROGRAM=<exe> -DSHELL=bash|zsh -DOUT=<file> -P generate.cmake
# The programs may be sanitizer builds: leak checking is off for these runs.
cmake_minimum_required(VERSION 3.25)
set(ENV{ASAN_OPTIONS} "detect_leaks=0")

# Text as it stands in a man page: no *roff commands or escapes of its own.
function(roff_verbatim text out)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(run_program out)
    execute_process(COMMAND "${PROGRAM}" ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} ${ARGN} failed: ${result}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(WHAT STREQUAL "completion")
    run_program(script --completion ${SHELL})
    file(WRITE "${OUT}" "${script}")
    return()
endif()

if(NOT WHAT STREQUAL "man")
    message(FATAL_ERROR "WHAT is man or completion")
endif()

# The include file: a section for each verb (the lines under "Commands:" of --help name them),
# then the license and the other page.
set(include "")
run_program(help --help)
if(help MATCHES "\nCommands:\n")
    string(REGEX REPLACE ".*\nCommands:\n" "" commands "${help}")
    string(REGEX MATCHALL "(^|\n)  [a-z]+" verbs "${commands}")
    foreach(verb IN LISTS verbs)
        string(STRIP "${verb}" verb)
        run_program(verb_help ${verb} --help)
        roff_verbatim("${verb_help}" verb_help)
        string(TOUPPER "${NAME} ${verb}" title)
        string(APPEND include "[${title}]\n.nf\n${verb_help}.fi\n\n")
    endforeach()
endif()
string(APPEND include "[COPYRIGHT]\nCopyright (c) 2026 The morv3d viewer developers.\n"
    "Released under the MIT License; see /usr/share/doc/morv3d-viewer/copyright.\n\n"
    "[SEE ALSO]\n.BR ${SEE_ALSO} (1)\n")
set(page "${OUT}.tmp")
set(include_file "${OUT}.include")
# help2man reads further synopsis lines as "  or: PROGRAM ..."; ours align PROGRAM under the
# first one. A wrapper of the program's name says it help2man's way.
get_filename_component(program_name "${PROGRAM}" NAME)
set(wrapper_dir "${OUT}.wrapper")
file(MAKE_DIRECTORY "${wrapper_dir}")
file(WRITE "${wrapper_dir}/${program_name}"
    "#!/bin/sh\n\"${PROGRAM}\" \"$@\" | sed 's/^       ${program_name} /   or: ${program_name} /'\n")
file(CHMOD "${wrapper_dir}/${program_name}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
file(WRITE "${include_file}" "${include}")
execute_process(
    COMMAND "${HELP2MAN}" --no-info --section=1 --name=${SUMMARY} --include=${include_file}
            --output=${page} "${wrapper_dir}/${program_name}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "help2man ${PROGRAM} failed: ${result}")
endif()
# Without a name and a time stamp, so the package builds the same bytes twice.
execute_process(COMMAND "${GZIP}" -9n --stdout "${page}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE result)
file(REMOVE_RECURSE "${page}" "${include_file}" "${wrapper_dir}")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip failed: ${result}")
endif()
