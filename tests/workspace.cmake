# The workspace editor driven through a fake main window.
target_sources(tarvelo_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/workspace_editor_tests.cpp)
