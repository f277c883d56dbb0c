# The connection manager's console program as the Wine tests play it: a
# stub under the real program's name that records how it was started.
if(WIN32)
  add_executable(kvt_stub ${PROJECT_SOURCE_DIR}/tests/e2e/programs/kvt_stub.cpp)
  set_target_properties(kvt_stub PROPERTIES OUTPUT_NAME Corvin.KVT.Console)
  target_compile_options(kvt_stub PRIVATE ${QUILLON_WARNINGS})
  target_link_options(kvt_stub PRIVATE -static)
endif()
