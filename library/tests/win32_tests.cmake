# Tests of the Windows build.  The export checks need only the host's
# mingw binutils; the programs run under Wine (wine64 for x86_64; the i686
# programs need a 32-bit Wine and are only built unless QUARN_WINE_TESTS is
# switched on).
target_link_libraries(quarn32_tests PRIVATE version)
target_include_directories(quarn32_tests PRIVATE ${PROJECT_SOURCE_DIR}/library)

# DLLs built from the library's own objects whose string table lacks one
# caption: each must refuse to load.
foreach(id 14 15 27)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/strings_without_${id}.rc)
    quarn_write_string_table(${PROJECT_SOURCE_DIR}/library/strings.def ${rc} OMIT ${id})
    add_library(quarn32_without_${id} SHARED $<TARGET_OBJECTS:quarn32_objects> ${rc})
    set_target_properties(quarn32_without_${id} PROPERTIES
        PREFIX "" OUTPUT_NAME QUARN32_without_${id})
    target_link_libraries(quarn32_without_${id} PRIVATE user32)
    add_dependencies(quarn32_tests quarn32_without_${id})
endforeach()

math(EXPR quarn_bits "${CMAKE_SIZEOF_VOID_P} * 8")
add_test(NAME quarn32.pe_exports
    COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check_pe_exports.sh
        ${CMAKE_OBJDUMP} $<TARGET_FILE:QUARN32>
        ${CMAKE_CURRENT_SOURCE_DIR}/expected_exports.txt
        ${PROJECT_SOURCE_DIR}/library/stdcall_args.txt
        ${quarn_bits})
set_tests_properties(quarn32.pe_exports PROPERTIES TIMEOUT ${QUARN_TEST_TIMEOUT})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # The stdcall check must be able to fail: a cdecl export is caught.
    add_library(pe_check_cdecl SHARED pe_check_cdecl.c pe_check_cdecl.def)
    set_target_properties(pe_check_cdecl PROPERTIES PREFIX "")
    target_link_options(pe_check_cdecl PRIVATE -Wl,--kill-at)
    add_test(NAME quarn32.pe_exports_rejects_cdecl
        COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check_pe_exports.sh
            ${CMAKE_OBJDUMP} $<TARGET_FILE:pe_check_cdecl>
            ${CMAKE_CURRENT_SOURCE_DIR}/pe_check_cdecl_exports.txt
            ${PROJECT_SOURCE_DIR}/library/stdcall_args.txt 32)
    set_tests_properties(quarn32.pe_exports_rejects_cdecl PROPERTIES
        PASS_REGULAR_EXPRESSION "RGrep: returns pop \\[0\\] bytes, expected 8"
        TIMEOUT ${QUARN_TEST_TIMEOUT})
endif()

if(QUARN_WINE_TESTS)
    # One Wine process for the whole suite: starting Wine per test case
    # would cost more than the tests.
    add_test(NAME quarn32.unit COMMAND quarn32_tests --gtest_color=no)
    add_test(NAME quarn32.c_header COMMAND quarn32_c_header)
    set_tests_properties(quarn32.unit quarn32.c_header PROPERTIES
        ENVIRONMENT "QUARN_TEST_DATA=${CMAKE_CURRENT_SOURCE_DIR}/data"
        TIMEOUT ${QUARN_SUITE_TIMEOUT})
endif()
