# The application model: queue, scheduler, persistence, activity log and the desktop seam.
add_library(CorvelEncoderModel STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ActivityLog.cpp ${CMAKE_CURRENT_LIST_DIR}/ActivityLog.h
    ${CMAKE_CURRENT_LIST_DIR}/AppFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/AppFiles.h
    ${CMAKE_CURRENT_LIST_DIR}/AppModel.cpp ${CMAKE_CURRENT_LIST_DIR}/AppModel.h
    ${CMAKE_CURRENT_LIST_DIR}/AppModelQueue.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AppSettings.cpp ${CMAKE_CURRENT_LIST_DIR}/AppSettings.h
    ${CMAKE_CURRENT_LIST_DIR}/DesktopServices.h
    ${CMAKE_CURRENT_LIST_DIR}/StateFiles.cpp ${CMAKE_CURRENT_LIST_DIR}/StateFiles.h
    ${CMAKE_CURRENT_LIST_DIR}/StateStore.h
)
set_target_properties(CorvelEncoderModel PROPERTIES AUTOMOC ON)
target_include_directories(CorvelEncoderModel PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(CorvelEncoderModel PUBLIC CorvelEncoderEngine CorvelEncoderCore Qt6::Core)
