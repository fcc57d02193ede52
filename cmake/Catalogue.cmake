# The message catalogue that PatchLauncher.exe carries, with the maker's name
# of message 307 replaced by the vendor's when MAKER_NAME is given.
#
# brand_catalogue(<source> <output> <name> <name_ja> <error_var>): writes
# <output> (only when its content changes). Empty <name>: a copy of <source>,
# byte for byte. Otherwise every 307 text gets <name> in place of "Tessaro"
# and the Japanese one <name_ja> (empty: <name>) in place of "テサロ"; nothing
# else changes. On refusal <error_var> holds the reason and nothing is written.
#
# Also a script: cmake -DSOURCE=... -DOUTPUT=... -DMAKER_NAME=... [-DMAKER_NAME_JA=...]
#                      -P Catalogue.cmake

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    cmake_minimum_required(VERSION 3.20)
endif()

set(CATALOGUE_MAKER "Tessaro")
set(CATALOGUE_MAKER_JA "テサロ")
set(CATALOGUE_TEXT_LIMIT 255) # characters one catalogue load returns
set(CATALOGUE_NO_PRODUCT_FOUND IDS_NO_PRODUCT_FOUND) # message 307's name in the script

# The number of UTF-16 code units of a UTF-8 text.
function(_catalogue_utf16_length text out_var)
    string(HEX "${text}" hex)
    string(REGEX MATCHALL ".." bytes "${hex}")
    set(count 0)
    foreach(byte IN LISTS bytes)
        if(NOT byte MATCHES "^[89ab]") # not a continuation byte
            math(EXPR count "${count} + 1")
        endif()
        if(byte MATCHES "^f") # four bytes: a surrogate pair
            math(EXPR count "${count} + 1")
        endif()
    endforeach()
    set(${out_var} ${count} PARENT_SCOPE)
endfunction()

# Empty when <name> can stand in the texts; otherwise why not.
function(_catalogue_name_problem option name out_var)
    set(problem "")
    string(HEX "${name}" hex)
    string(REGEX MATCHALL ".." bytes "${hex}")
    foreach(byte IN LISTS bytes)
        if(byte MATCHES "^[01]" OR byte STREQUAL "7f")
            set(problem "contains a control character")
        endif()
    endforeach()
    if(hex MATCHES "^(..)*c2[89]") # U+0080 to U+009F
        set(problem "contains a control character")
    elseif(name MATCHES "%")
        set(problem "contains \"%\", which the message formatting would read as a placeholder")
    elseif(name MATCHES "\"")
        set(problem "contains a double quote, which would end the text in the resource script")
    elseif(name MATCHES "\\\\")
        set(problem "contains a backslash, which the resource compiler reads as an escape")
    endif()
    if(problem)
        set(${out_var} "${option} '${name}' ${problem}; choose a name without it." PARENT_SCOPE)
    else()
        set(${out_var} "" PARENT_SCOPE)
    endif()
endfunction()

function(brand_catalogue source output name name_ja error_var)
    set(${error_var} "" PARENT_SCOPE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
    if(name STREQUAL "")
        if(NOT name_ja STREQUAL "")
            set(${error_var}
                "MAKER_NAME_JA is given without MAKER_NAME; give MAKER_NAME too, or -DMAKER_NAME_JA= to use the catalogue's own names."
                PARENT_SCOPE)
            return()
        endif()
        configure_file("${source}" "${output}" COPYONLY)
        return()
    endif()
    if(name_ja STREQUAL "")
        set(name_ja "${name}")
    endif()
    foreach(pair "MAKER_NAME;name" "MAKER_NAME_JA;name_ja")
        list(GET pair 0 option)
        list(GET pair 1 variable)
        _catalogue_name_problem(${option} "${${variable}}" problem)
        if(problem)
            set(${error_var} "${problem}" PARENT_SCOPE)
            return()
        endif()
    endforeach()

    file(READ "${source}" rest)
    set(branded "")
    set(marker "\n    ${CATALOGUE_NO_PRODUCT_FOUND}, \"")
    set(found 0)
    while(TRUE)
        string(FIND "${rest}" "${marker}" at)
        if(at EQUAL -1)
            break()
        endif()
        string(LENGTH "${marker}" marker_length)
        math(EXPR text_start "${at} + ${marker_length}")
        string(SUBSTRING "${rest}" 0 ${text_start} before)
        string(SUBSTRING "${rest}" ${text_start} -1 rest)
        string(FIND "${rest}" "\n" line_end)
        string(SUBSTRING "${rest}" 0 ${line_end} line)
        string(SUBSTRING "${rest}" ${line_end} -1 rest)
        # The language, from the "// LCID" comment that opens the block.
        string(FIND "${before}" "\n// " comment REVERSE)
        math(EXPR comment "${comment} + 4")
        string(SUBSTRING "${before}" ${comment} 5 language)
        string(STRIP "${language}" language)

        if(line MATCHES "${CATALOGUE_MAKER_JA}")
            string(REPLACE "${CATALOGUE_MAKER_JA}" "${name_ja}" line "${line}")
        elseif(line MATCHES "${CATALOGUE_MAKER}")
            string(REPLACE "${CATALOGUE_MAKER}" "${name}" line "${line}")
        else()
            set(${error_var} "${source}: the 307 text of ${language} names no maker to replace."
                PARENT_SCOPE)
            return()
        endif()
        # The text between the quotes; each "\n" is one character.
        string(REGEX REPLACE "\"[ \t\r]*$" "" text "${line}")
        string(REPLACE "\\n" "n" text "${text}")
        _catalogue_utf16_length("${text}" length)
        if(length GREATER CATALOGUE_TEXT_LIMIT)
            set(${error_var}
                "MAKER_NAME '${name}' / MAKER_NAME_JA '${name_ja}': message 307 in language ${language} would have ${length} characters, more than the ${CATALOGUE_TEXT_LIMIT} that one catalogue load returns; choose a shorter name."
                PARENT_SCOPE)
            return()
        endif()
        string(APPEND branded "${before}${line}")
        math(EXPR found "${found} + 1")
    endwhile()
    string(APPEND branded "${rest}")
    if(found EQUAL 0)
        set(${error_var} "${source}: no message 307 found." PARENT_SCOPE)
        return()
    endif()
    file(WRITE "${output}.new" "${branded}")
    configure_file("${output}.new" "${output}" COPYONLY)
    file(REMOVE "${output}.new")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(NOT DEFINED MAKER_NAME_JA)
        set(MAKER_NAME_JA "")
    endif()
    brand_catalogue("${SOURCE}" "${OUTPUT}" "${MAKER_NAME}" "${MAKER_NAME_JA}" error)
    if(error)
        message(FATAL_ERROR "${error}")
    endif()
endif()
