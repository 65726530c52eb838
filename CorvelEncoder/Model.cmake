# The application model: queue, scheduler, persistence, activity log and the desktop seam.
add_library(CorvelEncoderModel STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ActivityLog.cpp ${CMAKE_CURRENT_LIST_DIR}/ActivityLog.h
    ${CMAKE_CURRENT_LIST_DIR}/AppFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/AppFiles.h
    ${CMAKE_CURRENT_LIST_DIR}/AppModel.cpp ${CMAKE_CURRENT_LIST_DIR}/AppModel.h
    ${CMAKE_CURRENT_LIST_DIR}/ActivityFeed.cpp ${CMAKE_CURRENT_LIST_DIR}/ActivityFeed.h
    ${CMAKE_CURRENT_LIST_DIR}/DirectoryChooser.cpp ${CMAKE_CURRENT_LIST_DIR}/DirectoryChooser.h
    ${CMAKE_CURRENT_LIST_DIR}/EditingBindings.cpp ${CMAKE_CURRENT_LIST_DIR}/EditingBindings.h
    ${CMAKE_CURRENT_LIST_DIR}/Intake.cpp ${CMAKE_CURRENT_LIST_DIR}/Intake.h
    ${CMAKE_CURRENT_LIST_DIR}/JobStore.cpp ${CMAKE_CURRENT_LIST_DIR}/JobStore.h
    ${CMAKE_CURRENT_LIST_DIR}/Persistence.cpp ${CMAKE_CURRENT_LIST_DIR}/Persistence.h
    ${CMAKE_CURRENT_LIST_DIR}/Scheduler.cpp ${CMAKE_CURRENT_LIST_DIR}/Scheduler.h
    ${CMAKE_CURRENT_LIST_DIR}/Sheets.cpp ${CMAKE_CURRENT_LIST_DIR}/Sheets.h
    ${CMAKE_CURRENT_LIST_DIR}/WatchController.cpp ${CMAKE_CURRENT_LIST_DIR}/WatchController.h
    ${CMAKE_CURRENT_LIST_DIR}/AppSettings.cpp ${CMAKE_CURRENT_LIST_DIR}/AppSettings.h
    ${CMAKE_CURRENT_LIST_DIR}/DesktopServices.h
    ${CMAKE_CURRENT_LIST_DIR}/HeadlessDesktop.h
    ${CMAKE_CURRENT_LIST_DIR}/StateFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/StateFiles.h
    ${CMAKE_CURRENT_LIST_DIR}/StateStore.h
    ${CMAKE_CURRENT_LIST_DIR}/IncomingOpener.cpp ${CMAKE_CURRENT_LIST_DIR}/IncomingOpener.h
    ${CMAKE_CURRENT_LIST_DIR}/IntakeFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/IntakeFiles.h
    ${CMAKE_CURRENT_LIST_DIR}/JobTexts.cpp ${CMAKE_CURRENT_LIST_DIR}/JobTexts.h
    ${CMAKE_CURRENT_LIST_DIR}/MediaProber.cpp ${CMAKE_CURRENT_LIST_DIR}/MediaProber.h
    ${CMAKE_CURRENT_LIST_DIR}/ModelClock.cpp ${CMAKE_CURRENT_LIST_DIR}/ModelClock.h
    ${CMAKE_CURRENT_LIST_DIR}/QuitSignals.cpp ${CMAKE_CURRENT_LIST_DIR}/QuitSignals.h
    ${CMAKE_CURRENT_LIST_DIR}/SleepInhibitor.cpp ${CMAKE_CURRENT_LIST_DIR}/SleepInhibitor.h
    ${CMAKE_CURRENT_LIST_DIR}/NewJobSettings.cpp ${CMAKE_CURRENT_LIST_DIR}/NewJobSettings.h
    ${CMAKE_CURRENT_LIST_DIR}/SingleInstance.cpp ${CMAKE_CURRENT_LIST_DIR}/SingleInstance.h
    ${CMAKE_CURRENT_LIST_DIR}/WatchFolder.cpp ${CMAKE_CURRENT_LIST_DIR}/WatchFolder.h
    ${CMAKE_CURRENT_LIST_DIR}/WatchRules.cpp ${CMAKE_CURRENT_LIST_DIR}/WatchRules.h
)
set_target_properties(CorvelEncoderModel PROPERTIES AUTOMOC ON)
target_include_directories(CorvelEncoderModel PUBLIC ${PROJECT_SOURCE_DIR})
find_package(Qt6 REQUIRED COMPONENTS Network DBus)
target_link_libraries(CorvelEncoderModel PUBLIC CorvelEncoderEngine CorvelEncoderCore Qt6::Core Qt6::Network Qt6::DBus)
