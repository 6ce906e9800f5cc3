# The installer template's tests: the installation on every host, the wizard in-process and the
# whole road from an application folder to installed files under Wine.
if(NOT TARGET tarvelo_template_core)
    # Hosts without Windows build only the template's portable half, for these tests.
    add_subdirectory(${PROJECT_SOURCE_DIR}/template ${CMAKE_BINARY_DIR}/template)
endif()

add_executable(tarvelo_template_tests template_support.h template_support.cpp
                                      template_install_tests.cpp template_flow_tests.cpp)
target_link_libraries(tarvelo_template_tests PRIVATE tarvelo_template_core tarvelo_test_support GTest::gtest_main)
gtest_discover_tests(tarvelo_template_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
