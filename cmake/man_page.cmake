# Writes the manual page for installation: the source page with the version
# added to its footer. Run with -DSOURCE=<page> -DOUTPUT=<file> -DVERSION=<x.y.z>.
file(READ "${SOURCE}" page)
# The title line's fourth argument names the program; the installed page
# names the version with it.
string(REGEX REPLACE "(\n\\.TH [^\n]*) \"quorvel\" " "\\1 \"quorvel ${VERSION}\" " versioned "${page}")
if(versioned STREQUAL page)
    message(FATAL_ERROR "${SOURCE}: no .TH line whose fourth argument is \"quorvel\"")
endif()
file(WRITE "${OUTPUT}" "${versioned}")
