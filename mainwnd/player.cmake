# The preview player: libmpv drawn through its software renderer into a Qt widget.
pkg_check_modules(MPV REQUIRED IMPORTED_TARGET mpv)

add_library(quillet_player STATIC ${CMAKE_CURRENT_LIST_DIR}/MediaPlayer2.cpp ${CMAKE_CURRENT_LIST_DIR}/MediaPlayer2.h
                           ${CMAKE_CURRENT_LIST_DIR}/SeekLanding.cpp)
target_include_directories(quillet_player PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quillet_player PUBLIC Qt6::Widgets quillet_timeline PRIVATE quillet_app PkgConfig::MPV PkgConfig::FFMPEG)
