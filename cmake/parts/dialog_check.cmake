# The Wine tests' stand-in for the main dialog: a console program that
# runs the progress dialog with a stand-in worker, and the PIN dialog over
# a real port, from the product's own resources.
if(WIN32)
  add_executable(dialog_check ${PROJECT_SOURCE_DIR}/tests/e2e/programs/dialog_check.cpp ${PROJECT_SOURCE_DIR}/res/quillon.rc)
  target_include_directories(dialog_check PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/res)
  target_compile_options(dialog_check PRIVATE ${QUILLON_WARNINGS})
  target_link_libraries(dialog_check PRIVATE quillon_win32)
  target_link_options(dialog_check PRIVATE -static)
endif()
