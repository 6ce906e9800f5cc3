# The installer template's tests: the installation on every host, the wizard in-process and the
# whole road from an application folder to installed files under Wine.
add_executable(tarvelo_template_tests template_support.h template_support.cpp
                                      template_install_tests.cpp template_flow_tests.cpp)
target_link_libraries(tarvelo_template_tests PRIVATE tarvelo_template_core tarvelo_test_support GTest::gtest_main)
gtest_discover_tests(tarvelo_template_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)

# The wizard in-process and the built programs as processes; they need a display (./test starts
# Xvfb). Pictures of the wizard's pages go to the test output folder. The installer's ways onto a
# device run against stand-ins of the desktop's device software, built for 32-bit Windows only.
if(WIN32)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        add_subdirectory(standins)
    endif()
    add_executable(tarvelo_template_ui_tests template_support.h template_support.cpp cli_support.h cli_support.cpp
                                             standin_support.h standin_support.cpp standin_tests.cpp
                                             template_wizard_tests.cpp template_road_tests.cpp
                                             $<TARGET_OBJECTS:tarvelo_template_resources>)
    target_link_libraries(tarvelo_template_ui_tests PRIVATE tarvelo_template_ui tarvelo_workspace
                                                            tarvelo_test_support GTest::gtest_main)
    set(tarvelo_template_output "${CMAKE_BINARY_DIR}/test-output/template")
    if(CMAKE_HOST_UNIX)
        set(tarvelo_template_path "Z:$<TARGET_FILE:Template>")
        set(tarvelo_template_cli "Z:$<TARGET_FILE:tarvelo-build>")
        set(tarvelo_template_output "Z:${tarvelo_template_output}")
    else()
        set(tarvelo_template_path "$<TARGET_FILE:Template>")
        set(tarvelo_template_cli "$<TARGET_FILE:tarvelo-build>")
    endif()
    target_compile_definitions(tarvelo_template_ui_tests PRIVATE TARVELO_TEMPLATE_PATH="${tarvelo_template_path}"
                                                                 TARVELO_CLI_PATH="${tarvelo_template_cli}"
                                                                 TARVELO_TEST_OUTPUT="${tarvelo_template_output}")
    add_dependencies(tarvelo_template_ui_tests Template tarvelo-build)
    if(TARGET tarvelo_standin_rapi)
        if(CMAKE_HOST_UNIX)
            set(tarvelo_standin_prefix "Z:")
        else()
            set(tarvelo_standin_prefix "")
        endif()
        target_compile_definitions(tarvelo_template_ui_tests PRIVATE
            TARVELO_STANDIN_APPMGR_PATH="${tarvelo_standin_prefix}$<TARGET_FILE:tarvelo_standin_appmgr>"
            TARVELO_STANDIN_RAPI_PATH="${tarvelo_standin_prefix}$<TARGET_FILE:tarvelo_standin_rapi>")
        add_dependencies(tarvelo_template_ui_tests tarvelo_standin_appmgr tarvelo_standin_rapi)
    endif()
    gtest_discover_tests(tarvelo_template_ui_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endif()

# The same road from this host's own tarvelo-build (the native preset's, which ./test builds
# first), where the Windows programs run under Wine on a Linux host.
if(WIN32 AND CMAKE_HOST_UNIX)
    set(TARVELO_NATIVE_TOOL "${PROJECT_SOURCE_DIR}/out/native/bin/tarvelo-build"
        CACHE FILEPATH "tarvelo-build built for the host, for the template's road test")
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(tarvelo_wine_arch win64)
    else()
        set(tarvelo_wine_arch win32)
    endif()
    add_test(NAME TemplateRoad.AnInstallerMadeOnThisHostInstallsUnderWine
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/template_road.sh ${TARVELO_NATIVE_TOOL} $<TARGET_FILE:Template>
                     ${tarvelo_wine_arch} ${PROJECT_SOURCE_DIR})
    set_tests_properties(TemplateRoad.AnInstallerMadeOnThisHostInstallsUnderWine PROPERTIES SKIP_RETURN_CODE 77)
endif()

# The road through the real main window: the test program lies in bin/ beside the Template.exe
# that "Create Install File" copies.
if(WIN32)
    add_executable(tarvelo_template_road_tests template_support.h template_support.cpp cli_support.h cli_support.cpp
                                               ui_test_support.h ui_test_support.cpp template_gui_road_tests.cpp
                                               $<TARGET_OBJECTS:tarvelo_ui_resources>)
    target_link_libraries(tarvelo_template_road_tests PRIVATE tarvelo_ui tarvelo_test_support GTest::gtest_main)
    target_compile_definitions(tarvelo_template_road_tests PRIVATE TARVELO_TEMPLATE_PATH="${tarvelo_template_path}"
                                                                   TARVELO_CLI_PATH="${tarvelo_template_cli}")
    add_dependencies(tarvelo_template_road_tests Template tarvelo-build)
    gtest_discover_tests(tarvelo_template_road_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endif()
