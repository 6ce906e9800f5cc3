# The program's own dialogs (Progress, Installer Properties, About) and the help command, created
# in-process from the program's templates. They need a display (./test starts Xvfb).
if(WIN32)
    add_executable(tarvelo_ui_dialog_tests ${CMAKE_CURRENT_LIST_DIR}/ui_test_support.h
                                           ${CMAKE_CURRENT_LIST_DIR}/ui_test_support.cpp
                                           ${CMAKE_CURRENT_LIST_DIR}/ui_dialog_tests.cpp
                                           $<TARGET_OBJECTS:tarvelo_ui_resources>)
    target_link_libraries(tarvelo_ui_dialog_tests PRIVATE tarvelo_ui tarvelo_test_support GTest::gtest_main)
    gtest_discover_tests(tarvelo_ui_dialog_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
endif()
