# Run by CPack after it has staged the files of a package: a Debian package
# carries its licence as /usr/share/doc/<package>/copyright.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
set(doc_dir "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}")
if(NOT EXISTS "${doc_dir}/LICENSE")
    message(FATAL_ERROR "No LICENSE staged in ${doc_dir}")
endif()
file(COPY_FILE "${doc_dir}/LICENSE" "${doc_dir}/copyright")
