# The export manifest: src/exports/*.def list every export once. A small generator turns them into
# the linker version script, the declarations the definitions are compiled against, the runner's
# call table and reference entries, and the function reference in the README.
set(OMBRIX_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
file(GLOB OMBRIX_MANIFESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/exports/*.def)
list(SORT OMBRIX_MANIFESTS)

add_executable(ombrix_manifest_gen tools/manifest_gen.cpp)
# The generator runs at build time; sanitizers would only slow it down.
target_compile_options(ombrix_manifest_gen PRIVATE -fno-sanitize=all)
target_link_options(ombrix_manifest_gen PRIVATE -fno-sanitize=all)

set(OMBRIX_GENERATED
    ${OMBRIX_GENERATED_DIR}/ombrix.map
    ${OMBRIX_GENERATED_DIR}/ombrix_exports.h
    ${OMBRIX_GENERATED_DIR}/manifest_table.inc
    ${OMBRIX_GENERATED_DIR}/manifest_docs.inc
    ${OMBRIX_GENERATED_DIR}/real_exports.inc
    ${OMBRIX_GENERATED_DIR}/reference.md)
add_custom_command(
  OUTPUT ${OMBRIX_GENERATED}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${OMBRIX_GENERATED_DIR}
  COMMAND ombrix_manifest_gen generate ${OMBRIX_GENERATED_DIR} ${OMBRIX_MANIFESTS}
  DEPENDS ombrix_manifest_gen ${OMBRIX_MANIFESTS}
  COMMENT "Generating the export manifest"
  VERBATIM)
add_custom_target(ombrix_manifest DEPENDS ${OMBRIX_GENERATED})

# `cmake --build build --target readme` rewrites the function reference in README.md.
add_custom_target(readme
  COMMAND ombrix_manifest_gen readme ${CMAKE_SOURCE_DIR}/README.md ${OMBRIX_MANIFESTS}
  DEPENDS ombrix_manifest_gen ${OMBRIX_MANIFESTS}
  VERBATIM)
