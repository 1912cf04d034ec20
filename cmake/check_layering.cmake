# Checks which folder of src/ may include what:
#   - only src/platform includes operating-system headers (any <....h> header but the
#     header-only fast_float's);
#   - src/datafile includes nothing of the other folders;
#   - src/gif and src/args include only their own headers and the platform header.
# Run as: cmake -DSOURCE_DIR=<repo> -P check_layering.cmake
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.hpp)
set(failures "")
foreach(source IN LISTS sources)
    file(STRINGS ${SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include")
    string(REGEX MATCH "^src/([a-z]+)/" _ ${source})
    set(folder ${CMAKE_MATCH_1})
    foreach(line IN LISTS includes)
        if(line MATCHES "<[^>]+\\.h>" AND NOT line MATCHES "<fast_float/"
           AND NOT folder STREQUAL "platform")
            list(APPEND failures "${source}: operating-system header outside src/platform: ${line}")
        endif()
        if(line MATCHES "\"([a-z]+)/[^\"]+\"")
            set(target ${CMAKE_MATCH_1})
            if(NOT target STREQUAL folder)
                if(folder STREQUAL "datafile" OR folder STREQUAL "platform")
                    list(APPEND failures "${source}: ${folder} may not use ${target}: ${line}")
                elseif((folder STREQUAL "gif" OR folder STREQUAL "args") AND NOT target STREQUAL "platform")
                    list(APPEND failures "${source}: ${folder} may use only platform: ${line}")
                endif()
            endif()
        endif()
    endforeach()
endforeach()
if(failures)
    list(JOIN failures "\n" text)
    message(FATAL_ERROR "Layering rule broken:\n${text}")
endif()
list(LENGTH sources count)
message(STATUS "layering: ${count} files follow the rule")
