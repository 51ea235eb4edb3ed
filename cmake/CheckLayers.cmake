# Fails when a source file includes a header of a layer above its own. The layers, from the
# bottom: common (utilities), afx (the framework subset), core (the worker's declaration and the
# shared types), engine, jobs, ui, shellext; registrar stands beside them on common alone.
#   cmake -DROOT=<source folder> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.20)

set(allowed_common common)
set(allowed_afx afx common)
set(allowed_core core afx common)
set(allowed_engine engine core afx common)
set(allowed_jobs jobs engine core afx common)
set(allowed_registrar registrar common)
set(allowed_ui ui jobs engine core afx common resources)
set(allowed_shellext shellext ui jobs engine core afx common registrar resources)

set(violations "")
foreach(layer common afx core engine jobs registrar ui shellext)
    file(GLOB sources "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.cpp")
    foreach(source IN LISTS sources)
        file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
            if(NOT header MATCHES "/")
                continue() # a header of the file's own folder
            endif()
            string(REGEX REPLACE "/.*" "" folder "${header}")
            if(NOT folder IN_LIST allowed_${layer})
                file(RELATIVE_PATH shown "${ROOT}" "${source}")
                string(APPEND violations "\n  ${shown} includes ${header} (${layer} may use: ${allowed_${layer}})")
            endif()
        endforeach()
    endforeach()
endforeach()

if(violations)
    message(FATAL_ERROR "Headers included against the layers:${violations}")
endif()
message(STATUS "Every include follows the layers.")
