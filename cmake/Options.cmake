# The options a vendor gives with -D, and the refusal of a -D option that
# looks like a misspelling of one of them (CMake itself only warns that it
# was not used, and the build goes on without it).

set(PROJECT_OPTIONS PATCH_PACKAGE MAKER_NAME MAKER_NAME_JA SIGN_PKCS11_MODULE SIGN_PKCS11_KEY
    SIGN_CERTS SIGN_PKCS12 SIGN_PASSWORD_FILE SIGN_TIMESTAMP_URL PATCHLAUNCHER_TESTS)
set(PROJECT_OPTION_PREFIXES PATCH_ MAKER_ SIGN_)
set(OPTION_MISSPELLING_DISTANCE 2) # the most edits a misspelling is taken to have

# The number of single-character insertions, deletions and substitutions
# that turn <a> into <b>.
function(_options_edit_distance a b out_var)
    string(LENGTH "${a}" a_length)
    string(LENGTH "${b}" b_length)
    set(row "")
    foreach(j RANGE 0 ${b_length})
        list(APPEND row ${j})
    endforeach()
    foreach(i RANGE 1 ${a_length})
        math(EXPR a_at "${i} - 1")
        string(SUBSTRING "${a}" ${a_at} 1 a_char)
        set(next ${i})
        foreach(j RANGE 1 ${b_length})
            math(EXPR b_at "${j} - 1")
            string(SUBSTRING "${b}" ${b_at} 1 b_char)
            list(GET row ${b_at} substituted)
            list(GET row ${j} deleted)
            list(GET next ${b_at} inserted)
            if(NOT a_char STREQUAL b_char)
                math(EXPR substituted "${substituted} + 1")
            endif()
            math(EXPR deleted "${deleted} + 1")
            math(EXPR inserted "${inserted} + 1")
            set(best ${substituted})
            foreach(other ${deleted} ${inserted})
                if(other LESS best)
                    set(best ${other})
                endif()
            endforeach()
            list(APPEND next ${best})
        endforeach()
        set(row ${next})
    endforeach()
    list(GET row ${b_length} distance)
    set(${out_var} ${distance} PARENT_SCOPE)
endfunction()

# Sets <error_var> to the refusal of the first variable given with -D that is
# not one of PROJECT_OPTIONS but starts like one or is a few edits away from
# one (case aside), naming the nearest option; empty when there is none. The
# variable is removed from the cache, so that the next configure, with the
# option spelled right, does not find it again.
function(find_misspelled_option error_var)
    set(${error_var} "" PARENT_SCOPE)
    get_cmake_property(variables CACHE_VARIABLES)
    foreach(variable IN LISTS variables)
        get_property(help CACHE ${variable} PROPERTY HELPSTRING)
        if(variable IN_LIST PROJECT_OPTIONS
           OR NOT help STREQUAL "No help, variable specified on the command line.")
            continue()
        endif()
        string(TOUPPER "${variable}" upper)
        set(nearest "")
        set(nearest_distance 1000)
        foreach(option IN LISTS PROJECT_OPTIONS)
            _options_edit_distance("${upper}" "${option}" distance)
            if(distance LESS nearest_distance)
                set(nearest ${option})
                set(nearest_distance ${distance})
            endif()
        endforeach()
        set(looks_like_ours FALSE)
        if(NOT nearest_distance GREATER OPTION_MISSPELLING_DISTANCE)
            set(looks_like_ours TRUE)
        endif()
        foreach(prefix IN LISTS PROJECT_OPTION_PREFIXES)
            if(upper MATCHES "^${prefix}")
                set(looks_like_ours TRUE)
            endif()
        endforeach()
        if(looks_like_ours)
            unset(${variable} CACHE)
            list(JOIN PROJECT_OPTIONS ", " options)
            set(${error_var}
                "-D${variable} is not an option of this project; did you mean ${nearest}? (Its options: ${options}.)"
                PARENT_SCOPE)
            return()
        endif()
    endforeach()
endfunction()
