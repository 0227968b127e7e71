# The real main window over the wave simulator, shared by the Qt test
# directories; each includes this file, and the first one defines the target.
if(NOT TARGET morvane_qt_rig)
  find_package(Qt6 REQUIRED COMPONENTS Widgets)
  add_library(morvane_qt_rig STATIC ${CMAKE_CURRENT_LIST_DIR}/window_rig.cpp)
  target_link_libraries(morvane_qt_rig PUBLIC morvane_qt morvane_testsupport)
endif()
