# The same source gives the same Quillon.exe, whoever builds it, in
# whichever folder and at whichever time: a fleet can rebuild the tagged
# source and compare the bytes with what it received, signature aside
# (tools/check-reproducible.sh builds twice and compares).
if(NOT WIN32)
  return()
endif()

# No folder of the build machine in the program: __FILE__ and any debug
# data name paths relative to the source and the build folders. The later
# map wins where both match (the build folder may lie inside the source).
target_compile_options(quillon_core PUBLIC
  -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
  -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
# GNU ld stamps the link time into the PE header unless told not to.
target_link_options(Quillon PRIVATE -Wl,--no-insert-timestamp)
