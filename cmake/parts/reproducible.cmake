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
# Stripped: the static runtime libraries bring their own debug sections,
# with the paths of the machine that built them, and the symbol table
# leaves the file at a length that signing pads; without them the file
# ends on a section, and a signature is purely appended, so taking it off
# gives the unsigned bytes back (tools/compare-release.sh).
target_link_options(Quillon PRIVATE -Wl,--no-insert-timestamp -s)
