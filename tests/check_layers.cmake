# Checks that every quoted include of src/ and tools/ names its own layer or a lower one:
#     cmake -DROOT=<source tree> [-DEXPECTED=<file>] -P check_layers.cmake
# Without EXPECTED it fails listing each wrong include; with EXPECTED it fails unless the list
# is exactly the file's content (how the check itself is tested on a small tree).
cmake_minimum_required(VERSION 3.25)

# Layers from the bottom: abstractdata; container (fileformats/morv) and engine; scene
# (fileformats/morv3d); viewer, render and interchange; the desktop program, the browser
# edition's bindings (web) and the tools.
# Layers of one level do not include each other.

set(allowed_abstractdata abstractdata)
set(allowed_container abstractdata container)
set(allowed_engine abstractdata engine)
set(allowed_scene abstractdata container engine scene)
set(allowed_viewer ${allowed_scene} viewer)
set(allowed_render ${allowed_scene} render)
set(allowed_interchange ${allowed_scene} interchange)
set(allowed_morv3dViewer ${allowed_scene} viewer render interchange morv3dViewer)
set(allowed_tools ${allowed_scene} viewer render interchange tools)
# The browser edition's bindings stand where the desktop program does.
set(allowed_web ${allowed_scene} viewer render interchange web)

# The layer of a path relative to ROOT; "" for a path in no layer.
function(layer_of path out)
    set(layer "")
    if(path MATCHES "^src/fileformats/morv/")
        set(layer container)
    elseif(path MATCHES "^src/fileformats/morv3d/")
        set(layer scene)
    elseif(path MATCHES "^src/(abstractdata|engine|viewer|render|interchange|morv3dViewer|web)/")
        set(layer ${CMAKE_MATCH_1})
    elseif(path MATCHES "^tools/")
        set(layer tools)
    endif()
    set(${out} "${layer}" PARENT_SCOPE)
endfunction()

if(NOT ROOT)
    message(FATAL_ERROR "ROOT is not set")
endif()
file(GLOB_RECURSE files RELATIVE "${ROOT}"
    "${ROOT}/src/*.h" "${ROOT}/src/*.hpp" "${ROOT}/src/*.c" "${ROOT}/src/*.cpp" "${ROOT}/src/*.inl"
    "${ROOT}/tools/*.h" "${ROOT}/tools/*.hpp" "${ROOT}/tools/*.c" "${ROOT}/tools/*.cpp"
    "${ROOT}/tools/*.inl")
list(SORT files)

set(wrong "")
foreach(file IN LISTS files)
    layer_of("${file}" layer)
    if(layer STREQUAL "")
        list(APPEND wrong "${file}: in no layer")
        continue()
    endif()
    get_filename_component(dir "${file}" DIRECTORY)
    file(STRINGS "${ROOT}/${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" included "${line}")
        # Paths from src/ name their layer by their first folders; anything else is looked up
        # beside the including file; what is neither is a third-party header.
        layer_of("src/${included}" target)
        if(target STREQUAL "" AND EXISTS "${ROOT}/${dir}/${included}")
            get_filename_component(resolved "${ROOT}/${dir}/${included}" ABSOLUTE)
            file(RELATIVE_PATH resolved "${ROOT}" "${resolved}")
            layer_of("${resolved}" target)
        endif()
        if(target STREQUAL "" OR target IN_LIST allowed_${layer})
            continue()
        endif()
        list(APPEND wrong "${file}: ${layer} includes ${target} (\"${included}\")")
    endforeach()
endforeach()

list(LENGTH files checked)
string(REPLACE ";" "\n" report "${wrong}")
if(DEFINED EXPECTED)
    file(READ "${EXPECTED}" expected)
    string(STRIP "${expected}" expected)
    if(NOT report STREQUAL expected)
        message(FATAL_ERROR "Expected these wrong includes:\n${expected}\nFound:\n${report}")
    endif()
elseif(wrong)
    foreach(line IN LISTS wrong)
        message("${line}")
    endforeach()
    list(LENGTH wrong count)
    message(FATAL_ERROR "${count} includes across the layers")
endif()
message(STATUS "${checked} files checked")
