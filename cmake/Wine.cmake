# Running the project's Windows binaries under Wine, at build time (tools that
# write sample files) and at test time. Each use has a prefix of its own under
# the build tree; ~/.wine is never touched.
set(WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
set(WINE_PREFIX_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/wine-prefix.sh)
set(BUILD_WINEPREFIX ${CMAKE_BINARY_DIR}/wine/build)
set(TEST_WINEPREFIX ${CMAKE_BINARY_DIR}/wine/test)

# The build-time prefix is made once, before any tool runs in it, and again
# when the script that sets it up changes.
set(BUILD_WINEPREFIX_STAMP ${CMAKE_BINARY_DIR}/wine/build.stamp)
add_custom_command(OUTPUT ${BUILD_WINEPREFIX_STAMP}
    COMMAND ${WINE_PREFIX_SCRIPT} create ${BUILD_WINEPREFIX}
    COMMAND ${CMAKE_COMMAND} -E touch ${BUILD_WINEPREFIX_STAMP}
    DEPENDS ${WINE_PREFIX_SCRIPT}
    COMMENT "Creating the Wine prefix for build-time tools"
    VERBATIM)
add_custom_target(build_wineprefix DEPENDS ${BUILD_WINEPREFIX_STAMP})

# The command prefix that runs a Windows program in the build-time prefix.
# A run that takes longer than the limit is ended (and fails the build), so
# that nothing the tools meet can keep the build waiting for good.
set(BUILD_WINE_TIME_LIMIT 300) # seconds
set(RUN_IN_BUILD_PREFIX ${CMAKE_COMMAND} -E env WINEPREFIX=${BUILD_WINEPREFIX}
    timeout --kill-after=10 ${BUILD_WINE_TIME_LIMIT} ${WINE_RUN})
