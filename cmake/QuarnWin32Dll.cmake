# Helpers for the Windows build of QUARN32: the module-definition file and
# the string-table resource, both generated from the library's own lists.

# Rewrites output only when its text changes, so that a reconfigure does
# not relink the DLL for nothing.
function(quarn_write_if_changed output content)
    if(EXISTS ${output})
        file(READ ${output} old)
        if(old STREQUAL content)
            return()
        endif()
    endif()
    file(WRITE ${output} "${content}")
endfunction()

# Writes a STRINGTABLE resource with every entry of strings.def except the
# ids in OMIT (used to build DLLs that must refuse to load).  The texts are
# C string literals, which the resource compiler reads with the same escapes.
function(quarn_write_string_table strings_def output)
    cmake_parse_arguments(ARG "" "" "OMIT" ${ARGN})
    # Read line by line without CMake's list rules: the texts contain
    # brackets, which would otherwise glue list items together.
    file(READ ${strings_def} all)
    string(REPLACE "[" "@QLB@" all "${all}")
    string(REPLACE "]" "@QRB@" all "${all}")
    string(REPLACE ";" "@QSC@" all "${all}")
    string(REPLACE "\n" ";" all "${all}")
    set(lines "")
    foreach(line IN LISTS all)
        if(line MATCHES "^QUARN_STRING\\(")
            list(APPEND lines "${line}")
        endif()
    endforeach()
    set(rc "// Generated from strings.def.\nSTRINGTABLE\nBEGIN\n")
    set(count 0)
    foreach(line IN LISTS lines)
        if(NOT line MATCHES "^QUARN_STRING\\(([0-9]+), *[A-Za-z0-9_]+, *(\".*\")\\)$")
            message(FATAL_ERROR "strings.def: cannot read line: ${line}")
        endif()
        set(id ${CMAKE_MATCH_1})
        set(text "${CMAKE_MATCH_2}")
        string(REPLACE "@QLB@" "[" text "${text}")
        string(REPLACE "@QRB@" "]" text "${text}")
        string(REPLACE "@QSC@" ";" text "${text}")
        math(EXPR count "${count} + 1")
        if(NOT id IN_LIST ARG_OMIT)
            string(APPEND rc "    ${id}, ${text}\n")
        endif()
    endforeach()
    if(count EQUAL 0)
        message(FATAL_ERROR "strings.def: no entries")
    endif()
    string(APPEND rc "END\n")
    quarn_write_if_changed(${output} "${rc}")
endfunction()

# Writes the module-definition file for the names in exports_list.  On
# 32-bit Windows the exports are stdcall, so the linker knows them as
# Name@N with N = 4 * argument count (from args_list); linking with
# --kill-at then exports the plain names.  On 64-bit Windows there is one
# calling convention and the names are plain already.
function(quarn_write_def exports_list args_list output)
    file(STRINGS ${exports_list} names REGEX "^[A-Za-z_]")
    file(STRINGS ${args_list} arg_lines REGEX "^[A-Za-z_]")
    foreach(line IN LISTS arg_lines)
        if(NOT line MATCHES "^([A-Za-z_][A-Za-z0-9_]*) +([0-9]+)$")
            message(FATAL_ERROR "${args_list}: cannot read line: ${line}")
        endif()
        set(argc_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
    endforeach()
    set(def "LIBRARY QUARN32.dll\nEXPORTS\n")
    foreach(name IN LISTS names)
        string(STRIP "${name}" name)
        if(NOT DEFINED argc_${name})
            message(FATAL_ERROR "${args_list}: no argument count for export ${name}")
        endif()
        if(CMAKE_SIZEOF_VOID_P EQUAL 4)
            math(EXPR bytes "4 * ${argc_${name}}")
            string(APPEND def "    ${name}@${bytes}\n")
        else()
            string(APPEND def "    ${name}\n")
        endif()
    endforeach()
    quarn_write_if_changed(${output} "${def}")
endfunction()
