# What `cmake --install` puts where, and the packages CPack makes of it:
# a .deb on Linux, a .zip on Windows.
include(GNUInstallDirs)

if(WIN32)
    # Everything at the top of the package; Windows has no manual pages.
    install(TARGETS quorvel RUNTIME DESTINATION .)
    install(FILES README.md LICENSE DESTINATION .)
else()
    # The manual page is installed compressed, as Debian wants it; gzip -n
    # leaves out the name and the time, so the same page gives the same bytes.
    find_program(QUORVEL_GZIP gzip REQUIRED)
    set(man_page ${PROJECT_BINARY_DIR}/man/quorvel.1)
    add_custom_command(
        OUTPUT ${man_page}.gz
        COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/docs/quorvel.1
                -DOUTPUT=${man_page} -DVERSION=${PROJECT_VERSION}
                -P ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
        COMMAND ${QUORVEL_GZIP} -9nf ${man_page}
        DEPENDS ${PROJECT_SOURCE_DIR}/docs/quorvel.1 ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
        COMMENT "Compressing the manual page"
        VERBATIM)
    add_custom_target(man_page ALL DEPENDS ${man_page}.gz)

    install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "The quorvel developers")
set(CPACK_PACKAGE_CONTACT "The quorvel developers <quorvel@example.org>"
    CACHE STRING "Maintainer named in the packages")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exercise one TCP connection under a controlled load")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-win64)
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION net)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The summary line comes first, from CPACK_PACKAGE_DESCRIPTION_SUMMARY.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"quorvel puts one TCP connection under a load you choose and shows what
happens when the sender is faster than the reader. One program runs as
either end: the client sends small timestamped messages at a steady rate,
and the server reads them at its own, possibly slower, rate and prints how
old each one is when it gets to it. When the client outruns the server the
socket buffers between them fill: the ages climb, and the client starts
dropping messages. An option sets the socket buffer sizes, to show how much
of that back-pressure the kernel's buffers hide.")
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb_copyright.cmake)
endif()

include(CPack)
