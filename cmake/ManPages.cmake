# Man pages and per-package documents, compressed at build time the way
# Debian installs them (gzip -9n: best compression, no name or time stamp,
# so the packages are reproducible).

find_program(QUARN_GZIP gzip)

# quarn_gzip_file(SOURCE OUTPUT): OUTPUT is SOURCE compressed, rebuilt when
# SOURCE changes; the target quarn_docs builds them all.
function(quarn_gzip_file source output)
    if(NOT QUARN_GZIP)
        message(FATAL_ERROR "gzip is needed to install the compressed documents")
    endif()
    add_custom_command(OUTPUT ${output}
        COMMAND ${QUARN_GZIP} -9n -c ${source} > ${output}
        DEPENDS ${source}
        VERBATIM)
    get_filename_component(name ${output} NAME)
    string(MAKE_C_IDENTIFIER "quarn_doc_${name}" target)
    add_custom_target(${target} ALL DEPENDS ${output})
endfunction()

# quarn_install_man_page(PAGE COMPONENT): PAGE (e.g. tslcat.1) beside the
# calling CMakeLists.txt goes to man/manN of COMPONENT.
function(quarn_install_man_page page component)
    string(REGEX MATCH "[0-9]$" section ${page})
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
    quarn_gzip_file(${CMAKE_CURRENT_SOURCE_DIR}/${page} ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()
