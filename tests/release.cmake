# What a user downloads: the help file's sources checked against the program they describe, and
# the Windows release archive made by tools/release, unpacked into a fresh folder and run from there.

# The pages, contents and index against the program's resources and tarvelo-build's own --help.
if(NOT WIN32)
    add_test(NAME tarvelo_help_sources
             COMMAND ${CMAKE_COMMAND} -DHELP_DIR=${PROJECT_SOURCE_DIR}/docs/help
                     -DRESOURCES=${PROJECT_SOURCE_DIR}/ui/tarvelo.rc -DTARVELO_BUILD=$<TARGET_FILE:tarvelo-build>
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/release/check_help.cmake)
endif()

# tools/release is a shell script, so the archive is made and unpacked only on a Linux host; the
# programs then run from the unpacked folder under Wine. A 64-bit build makes a -win64 archive.
if(WIN32 AND CMAKE_HOST_UNIX AND TARGET Template AND TARGET tarvelo_help)
    set(tarvelo_release_work ${CMAKE_BINARY_DIR}/release-test)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(tarvelo_release_flavour win64)
    else()
        set(tarvelo_release_flavour win32)
    endif()
    add_test(NAME tarvelo_release_archive
             COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                     -DWORK_DIR=${tarvelo_release_work} -DVERSION=${PROJECT_VERSION}
                     -DFLAVOUR=${tarvelo_release_flavour} -P ${CMAKE_CURRENT_SOURCE_DIR}/release/unpack_release.cmake)
    set_tests_properties(tarvelo_release_archive PROPERTIES FIXTURES_SETUP tarvelo_release)

    add_executable(tarvelo_release_tests release/release_tests.cpp)
    target_link_libraries(tarvelo_release_tests PRIVATE tarvelo_options GTest::gtest_main comctl32 shell32 version)
    target_compile_definitions(tarvelo_release_tests PRIVATE
        TARVELO_VERSION="${PROJECT_VERSION}"
        TARVELO_RELEASE_DIR="Z:${tarvelo_release_work}/unpacked/Tarvelo-${PROJECT_VERSION}")
    # The archive is packed from these programs when the tests run.
    add_dependencies(tarvelo_release_tests Tarvelo Template tarvelo-build tarvelo_help)
    gtest_discover_tests(tarvelo_release_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES FIXTURES_REQUIRED tarvelo_release)
endif()
