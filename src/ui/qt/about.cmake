# The About box and the animated picture control on Qt widgets, with the
# About picture embedded as a resource. Included from the Qt layer's
# CMakeLists.txt; MORVANE_ABOUT_TARGET names another target to build them
# into (morvane_qt when unset).
if(NOT DEFINED MORVANE_ABOUT_TARGET)
  set(MORVANE_ABOUT_TARGET morvane_qt)
endif()
qt_add_resources(MORVANE_ABOUT_RESOURCES ${PROJECT_SOURCE_DIR}/res/about.qrc)
target_sources(${MORVANE_ABOUT_TARGET} PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/qt_about_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_about_resources.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_picture_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_picture_window.cpp
  ${MORVANE_ABOUT_RESOURCES})
set_property(GLOBAL PROPERTY MORVANE_QT_ABOUT_TARGET ${MORVANE_ABOUT_TARGET})
