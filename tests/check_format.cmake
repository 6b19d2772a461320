# Fails listing every C++ file of the project that clang-format would change:
#     cmake -DROOT=<source tree> -DCLANG_FORMAT=<program> -P check_format.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT CLANG_FORMAT OR NOT EXISTS "${CLANG_FORMAT}")
    message(FATAL_ERROR "clang-format was not found (scripts/install-deps installs it): "
                        "the formatting cannot be checked")
endif()

file(GLOB_RECURSE files RELATIVE ${ROOT}
    ${ROOT}/src/*.cpp ${ROOT}/src/*.h ${ROOT}/tools/*.cpp ${ROOT}/tools/*.h
    ${ROOT}/tests/*.cpp ${ROOT}/tests/*.h ${ROOT}/bench/*.cpp ${ROOT}/bench/*.h
    ${ROOT}/fuzz/*.cpp ${ROOT}/fuzz/*.h)
# The layer check's small tree is data, and npm's modules are not ours.
list(FILTER files EXCLUDE REGEX "^tests/(data|node_modules|web/node_modules)/")
execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror ${files}
    WORKING_DIRECTORY ${ROOT} RESULT_VARIABLE result ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
    string(REGEX MATCHALL "[^\n]*: error: [^\n]*" lines "${errors}")
    list(JOIN lines "\n" text)
    message(FATAL_ERROR "not formatted (run make format):\n${text}")
endif()
