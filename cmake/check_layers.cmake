# The include rule of the layers, run as a test: cmake -DROOT=<source folder> -P check_layers.cmake
#   core      includes nothing of platform, app or cli, and no Qt;
#   platform  includes nothing of app or cli, and no Qt;
#   cli       includes nothing of app, and no Qt;
#   the core's tests include nothing of platform, app or cli, and no Qt;
#   in app, once features take the score session (src/app/score_session.h), only the program's main and the main
#   window itself include the main window's header.
# An include names its layer by its folder ("core/score_map.h"); a name without a folder is looked up among the
# layers' files. Every include that runs back against the layers is listed, and the check fails.
cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
    message(FATAL_ERROR "usage: cmake -DROOT=<source folder> -P check_layers.cmake")
endif()

set(layers core platform app cli)
set(forbidden_core platform app cli Qt)
set(forbidden_platform app cli Qt)
set(forbidden_cli app Qt)
set(forbidden_app)
set(forbidden_tests_core platform app cli Qt)

# The layer of an include's name, or nothing for a system or test header.
function(layer_of name out)
    set(layer "")
    if(name MATCHES "^<(Q[A-Za-z]|qt)")
        set(layer Qt)
    elseif(name MATCHES "^\"([a-z]+)/")
        if(CMAKE_MATCH_1 IN_LIST layers)
            set(layer ${CMAKE_MATCH_1})
        endif()
    elseif(name MATCHES "^\"([^\"/]+)\"$")
        foreach(candidate IN LISTS layers)
            if(EXISTS "${ROOT}/src/${candidate}/${CMAKE_MATCH_1}")
                set(layer ${candidate})
                break()
            endif()
        endforeach()
    endif()
    set(${out} "${layer}" PARENT_SCOPE)
endfunction()

set(back_arrows "")
set(session_tree FALSE)
if(EXISTS "${ROOT}/src/app/score_session.h")
    set(session_tree TRUE)
endif()
foreach(place core platform cli app tests_core)
    if(place STREQUAL "tests_core")
        set(folder "${ROOT}/tests/core")
    else()
        set(folder "${ROOT}/src/${place}")
    endif()
    if(NOT IS_DIRECTORY "${folder}")
        continue()
    endif()
    file(GLOB_RECURSE files LIST_DIRECTORIES false "${folder}/*.h" "${folder}/*.cpp")
    list(SORT files)
    foreach(file IN LISTS files)
        file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
        foreach(line IN LISTS includes)
            string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*([<\"][^>\"]*[>\"]).*$" "\\1" name "${line}")
            layer_of("${name}" layer)
            get_filename_component(base "${file}" NAME_WE)
            if(session_tree AND place STREQUAL "app" AND name MATCHES "^\"(app/)?(main_window|fMain)[.]h\"$"
               AND NOT base MATCHES "^(main|main_window|fMain)$")
                set(layer "the main window")
            elseif(NOT layer OR NOT layer IN_LIST forbidden_${place})
                continue()
            endif()
            file(RELATIVE_PATH shown "${ROOT}" "${file}")
            string(APPEND back_arrows "${shown} includes ${name} (${layer})\n")
        endforeach()
    endforeach()
endforeach()

if(back_arrows)
    message(FATAL_ERROR "Includes against the layers:\n${back_arrows}")
endif()
message(STATUS "The includes keep to the layers.")
