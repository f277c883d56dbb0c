# The compiled-in data of version control: the rules from data/, and the
# two package images, generated as placeholders or taken from the maker.
set(QUILLON_FULL_PACKAGE "" CACHE FILEPATH
    "The maker's full package image for a release build; empty builds a placeholder")
set(QUILLON_OPTIONAL_IMAGE "" CACHE FILEPATH
    "The maker's optional assignment image for a release build; empty builds a placeholder")

find_program(QUILLON_PACKAGE_PYTHON python3 REQUIRED)

set(package_dir ${CMAKE_BINARY_DIR}/packages)
set(package_include ${package_dir}/package_images.inc)
set(package_outputs ${package_include})
set(package_images)
set(package_args --out-dir ${package_dir})

foreach(image full_package:QUILLON_FULL_PACKAGE:--full optional_image:QUILLON_OPTIONAL_IMAGE:--optional)
  string(REPLACE ":" ";" image "${image}")
  list(GET image 0 image_name)
  list(GET image 1 image_variable)
  list(GET image 2 image_option)
  if(${image_variable})
    if(NOT EXISTS "${${image_variable}}")
      message(FATAL_ERROR "${image_variable}: no such file: ${${image_variable}}")
    endif()
    list(APPEND package_args ${image_option} ${${image_variable}})
    list(APPEND package_images ${${image_variable}})
  else()
    list(APPEND package_outputs ${package_dir}/${image_name}.bin)
    list(APPEND package_images ${package_dir}/${image_name}.bin)
  endif()
endforeach()

add_custom_command(
  OUTPUT ${package_outputs}
  COMMAND ${QUILLON_PACKAGE_PYTHON} ${PROJECT_SOURCE_DIR}/tools/make-package.py ${package_args}
  DEPENDS ${PROJECT_SOURCE_DIR}/tools/make-package.py
          $<$<BOOL:${QUILLON_FULL_PACKAGE}>:${QUILLON_FULL_PACKAGE}>
          $<$<BOOL:${QUILLON_OPTIONAL_IMAGE}>:${QUILLON_OPTIONAL_IMAGE}>
  COMMENT "Describing the package images"
  VERBATIM)

# Listed as sources so the generation runs before quillon_core compiles;
# the images are assembled in by .incbin, which the compiler's dependency
# scan does not see, hence OBJECT_DEPENDS.
target_sources(quillon_core PRIVATE ${package_outputs})
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/version_control/packages.cpp PROPERTIES
  OBJECT_DEPENDS "${package_outputs};${package_images}")
target_include_directories(quillon_core PRIVATE ${package_dir} ${PROJECT_SOURCE_DIR}/data)

# The tests look inside the images only when they are ours.
if(NOT WIN32 AND NOT QUILLON_FULL_PACKAGE AND NOT QUILLON_OPTIONAL_IMAGE)
  target_compile_definitions(quillon_tests PRIVATE QUILLON_PLACEHOLDER_IMAGES=1)
endif()

# The product carries its rules and images from the first build on, even
# while no dialog reads them yet: keep the linker from leaving them out.
if(WIN32)
  target_link_options(Quillon PRIVATE -Wl,--undefined=PackageCatalogue
                      -Wl,--undefined=OptionalAssignmentImage -Wl,--undefined=VersionControlTable)
endif()
