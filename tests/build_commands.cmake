# The build commands: their steps against a recording host on every host, and the main window's
# Create package, Create installer and setup INF commands under Wine, with a stand-in build command.
add_executable(tarvelo_build_tests build_commands_tests.cpp)
target_link_libraries(tarvelo_build_tests PRIVATE tarvelo_building tarvelo_test_support GTest::gtest_main)
gtest_discover_tests(tarvelo_build_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)

if(WIN32)
    add_executable(tarvelo_record_command record_command.cpp)
    target_link_libraries(tarvelo_record_command PRIVATE tarvelo_options)

    add_executable(tarvelo_build_ui_tests ui_test_support.h ui_test_support.cpp build_commands_ui_tests.cpp
                                          $<TARGET_OBJECTS:tarvelo_ui_resources>)
    target_link_libraries(tarvelo_build_ui_tests PRIVATE tarvelo_ui tarvelo_test_support GTest::gtest_main)
    if(CMAKE_HOST_UNIX)
        set(tarvelo_recorder_path "Z:$<TARGET_FILE:tarvelo_record_command>")
    else()
        set(tarvelo_recorder_path "$<TARGET_FILE:tarvelo_record_command>")
    endif()
    target_compile_definitions(tarvelo_build_ui_tests PRIVATE TARVELO_RECORDER_PATH="${tarvelo_recorder_path}")
    add_dependencies(tarvelo_build_ui_tests tarvelo_record_command)
    gtest_discover_tests(tarvelo_build_ui_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endif()
