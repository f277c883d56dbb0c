# The Linux launcher's check of the Wine prefix's desktop, and its hold on
# it while Quillon runs (tools/quillon-linux, the Wine tests' sessions).
if(WIN32)
  add_executable(desktop_ready ${PROJECT_SOURCE_DIR}/tools/wine_desktop/desktop_ready.cpp)
  target_compile_options(desktop_ready PRIVATE ${QUILLON_WARNINGS})
  target_link_options(desktop_ready PRIVATE -static)
endif()
