# Fails when a test of the build tree in BUILD_DIR has no TIMEOUT property of
# its own.  Run with: cmake -DCTEST=<ctest> -DBUILD_DIR=<dir> -P <this file>
#
# A test without one would fall back to CTest's default of 1500 seconds, or
# to none at all, and a fault that makes it loop would stall the whole run.
if(NOT CTEST OR NOT BUILD_DIR)
    message(FATAL_ERROR "CTEST and BUILD_DIR must be given")
endif()

execute_process(COMMAND ${CTEST} --show-only=json-v1
    WORKING_DIRECTORY ${BUILD_DIR}
    OUTPUT_VARIABLE listing
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "ctest --show-only failed (${status})")
endif()

string(JSON tests GET "${listing}" tests)
string(JSON count LENGTH "${tests}")
if(count EQUAL 0)
    message(FATAL_ERROR "no tests listed in ${BUILD_DIR}")
endif()
math(EXPR last "${count} - 1")
set(missing "")
set(timed 0)
foreach(i RANGE ${last})
    string(JSON test GET "${tests}" ${i})
    string(JSON name GET "${test}" name)
    # The stand-in for a test program that was not built yet: it fails on
    # its own, and its cases are listed once the program is built.
    if(name MATCHES "_NOT_BUILT$")
        continue()
    endif()
    set(timeout "")
    string(JSON properties ERROR_VARIABLE noProperties GET "${test}" properties)
    if(NOT noProperties)
        string(JSON propertyCount LENGTH "${properties}")
        if(propertyCount GREATER 0)
            math(EXPR lastProperty "${propertyCount} - 1")
            foreach(k RANGE ${lastProperty})
                string(JSON property GET "${properties}" ${k} name)
                if(property STREQUAL "TIMEOUT")
                    string(JSON timeout GET "${properties}" ${k} value)
                endif()
            endforeach()
        endif()
    endif()
    if(timeout STREQUAL "" OR timeout LESS_EQUAL 0)
        list(APPEND missing "${name}")
    else()
        math(EXPR timed "${timed} + 1")
    endif()
endforeach()

list(LENGTH missing missingCount)
if(missingCount GREATER 0)
    list(JOIN missing "\n  " names)
    message(FATAL_ERROR "${missingCount} of ${count} tests have no TIMEOUT:\n  ${names}")
endif()
message(STATUS "all ${timed} tests have a TIMEOUT")
