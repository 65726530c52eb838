# The inspector and the panels shown over the window.
set(CORVEL_UI_PART_B_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/AboutSheet.cpp ${CMAKE_CURRENT_LIST_DIR}/AboutSheet.h
    ${CMAKE_CURRENT_LIST_DIR}/HelpSheet.cpp ${CMAKE_CURRENT_LIST_DIR}/HelpSheet.h
    ${CMAKE_CURRENT_LIST_DIR}/InspectorPanel.cpp ${CMAKE_CURRENT_LIST_DIR}/InspectorPanel.h
    ${CMAKE_CURRENT_LIST_DIR}/IntroSheet.cpp ${CMAKE_CURRENT_LIST_DIR}/IntroSheet.h
    ${CMAKE_CURRENT_LIST_DIR}/PanelKit.cpp ${CMAKE_CURRENT_LIST_DIR}/PanelKit.h
    ${CMAKE_CURRENT_LIST_DIR}/SavePresetSheet.cpp ${CMAKE_CURRENT_LIST_DIR}/SavePresetSheet.h
    ${CMAKE_CURRENT_LIST_DIR}/SheetPresenter.cpp ${CMAKE_CURRENT_LIST_DIR}/SheetPresenter.h
    ${CMAKE_CURRENT_LIST_DIR}/WatchSettingsPopover.cpp ${CMAKE_CURRENT_LIST_DIR}/WatchSettingsPopover.h
)
