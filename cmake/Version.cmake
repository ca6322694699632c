# The one version, from project(): a header for the code and the version
# resource of every Windows program; scripts/package.sh reads it from the header.
foreach(_part MINOR PATCH)
  set(BRIS_VERSION_${_part} "${PROJECT_VERSION_${_part}}")
  if("${BRIS_VERSION_${_part}}" STREQUAL "")
    set(BRIS_VERSION_${_part} 0)
  endif()
endforeach()
set(_gen ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/BrisVersion.h.in ${_gen}/BrisVersion.h @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/VersionInfo.rc.in ${_gen}/VersionInfo.rc @ONLY)
# windres reports no included files: each .rc that includes these depends on them.
set(BRIS_VERSION_FILES ${_gen}/BrisVersion.h ${_gen}/VersionInfo.rc)
add_library(bris_version INTERFACE)
target_include_directories(bris_version INTERFACE ${_gen})
unset(_gen)
