# What makes a build a release: the version resource every Windows binary
# carries, and the archive a person unzips (scripts/package.sh builds it with
# CPack). The version itself is the project's, set once in project().

# FILEVERSION and the manifest's assemblyIdentity take four numbers.
set(VSK_VERSION_FOUR "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string(REPLACE "." "," VSK_VERSION_COMMAS "${VSK_VERSION_FOUR}")

# vsk_version_resource(TARGET target DESCRIPTION text)
# Gives a Windows binary its VERSIONINFO (file and product version, product
# name, description); nothing on other platforms.
function(vsk_version_resource)
  cmake_parse_arguments(V "" "TARGET;DESCRIPTION" "" ${ARGN})
  if(NOT WIN32)
    return()
  endif()
  get_target_property(type ${V_TARGET} TYPE)
  get_target_property(name ${V_TARGET} OUTPUT_NAME)
  if(NOT name)
    set(name ${V_TARGET})
  endif()
  if(type STREQUAL "EXECUTABLE")
    set(VSK_RC_FILE_TYPE VFT_APP)
    set(VSK_RC_FILE ${name}.exe)
  else()
    set(VSK_RC_FILE_TYPE VFT_DLL)
    set(VSK_RC_FILE ${name}.dll)
  endif()
  set(VSK_RC_NAME ${name})
  set(VSK_RC_DESCRIPTION "${V_DESCRIPTION}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}.version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/release/VersionInfo.rc.in ${rc} @ONLY)
  target_sources(${V_TARGET} PRIVATE ${rc})
endfunction()
