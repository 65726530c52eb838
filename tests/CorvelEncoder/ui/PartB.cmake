# Tests of the inspector and the panels over the window, part of ui_tests.
set(CORVEL_UI_PART_B_TESTS
    ${CMAKE_CURRENT_LIST_DIR}/Inspector_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Sheets_test.cpp
)
if(TARGET ui_tests)
    target_sources(ui_tests PRIVATE ${CORVEL_UI_PART_B_TESTS})
endif()
