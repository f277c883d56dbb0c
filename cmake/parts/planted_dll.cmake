# The DLL the planted-DLL test puts beside Quillon.exe under the names of
# the DLLs the program loads: a mark in C:\ whenever it is loaded.
if(WIN32)
  add_library(planted_dll SHARED ${PROJECT_SOURCE_DIR}/tests/e2e/programs/planted_dll.c)
  set_target_properties(planted_dll PROPERTIES OUTPUT_NAME planted PREFIX "")
  target_compile_options(planted_dll PRIVATE ${QUILLON_WARNINGS})
  target_link_options(planted_dll PRIVATE -static)
endif()
