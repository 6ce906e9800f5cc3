# The workspace editor driven through a fake main window.
target_sources(tarvelo_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/workspace_editor_tests.cpp)

# The same behaviour in the real main window.
if(WIN32)
    target_sources(tarvelo_ui_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ui_workspace_tests.cpp)
    target_link_libraries(tarvelo_ui_tests PRIVATE tarvelo_test_support)
endif()
