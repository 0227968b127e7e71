# morvane-gif-frames: prints what the GIF frame cutter makes of a file. It
# uses only the portable core, so every platform's program directory can
# include this file.
add_executable(morvane-gif-frames ${CMAKE_CURRENT_LIST_DIR}/gif_frames/gif_frames_main.cpp)
target_link_libraries(morvane-gif-frames PRIVATE morvane_core)
install(TARGETS morvane-gif-frames RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
