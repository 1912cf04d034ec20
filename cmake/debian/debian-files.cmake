# The files a Debian package must carry in /usr/share/doc/<package>/ besides README and licence,
# written at configure time into the build folder: changelog.gz (one entry for the project
# version; its date honours SOURCE_DATE_EPOCH) and a machine-readable copyright file, made from
# LICENSE so that the licence text has one source.
#   graygif_debian_files(<maintainer "Name <address>"> <version>)
function(graygif_debian_files maintainer version)
    set(GRAYGIF_PACKAGE_MAINTAINER "${maintainer}")
    set(GRAYGIF_DEBIAN_VERSION "${version}")
    string(TIMESTAMP GRAYGIF_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/changelog.in
                   ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
    graygif_gzip(${CMAKE_CURRENT_BINARY_DIR}/changelog)

    # LICENSE: a title, "Copyright (c) <years and holders>", then the licence's paragraphs, which
    # the copyright file indents by one blank, an empty line written as " .".
    file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
    if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n+(.*[^\n])\n*$")
        message(FATAL_ERROR "LICENSE: no line \"Copyright (c) ...\" followed by the licence")
    endif()
    set(GRAYGIF_COPYRIGHT "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "\n\n+" "\n.\n" text "${CMAKE_MATCH_2}")
    string(REPLACE "\n" "\n " text " ${text}")
    set(GRAYGIF_LICENSE_TEXT "${text}")
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/copyright.in
                   ${CMAKE_CURRENT_BINARY_DIR}/copyright @ONLY)
endfunction()

# <file>.gz beside <file>, as Debian compresses documentation: gzip -9, without the name and
# time stamp of the file (the package stays the same for the same sources).
function(graygif_gzip file)
    execute_process(COMMAND gzip -9 -n -f -k ${file} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
