# The Windows archive a person unzips and runs (scripts/package.sh):
# VskMediaHost-VERSION-win64.zip with the host, both libraries, the interface
# header and the read-me, stripped, and nothing else (no import libraries,
# no test program, no path of the build machine).
if(NOT WIN32)
  return()
endif()

set(vsk_header ${CMAKE_BINARY_DIR}/package/VskMpeg2TsTranscoder.h)
add_custom_command(OUTPUT ${vsk_header}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT=${vsk_header} -DVERSION=${PROJECT_VERSION}
          -P ${PROJECT_SOURCE_DIR}/cmake/release/InterfaceHeader.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/frame/host_interfaces.h ${PROJECT_SOURCE_DIR}/frame/MediaTranscoderLib.h
          ${PROJECT_SOURCE_DIR}/cmake/release/InterfaceHeader.cmake
  COMMENT "Writing the interface header")
# The read-me is plain text with Windows line ends, so Notepad shows it.
set(vsk_readme ${CMAKE_BINARY_DIR}/package/README.txt)
configure_file(${PROJECT_SOURCE_DIR}/cmake/release/README.txt.in ${vsk_readme} @ONLY NEWLINE_STYLE CRLF)
add_custom_target(vsk_package_files ALL DEPENDS ${vsk_header})

install(TARGETS VskMediaHost VskMpeg2TsTranscoder VskMpegParser
  RUNTIME DESTINATION .
  ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL
  LIBRARY DESTINATION . )
install(FILES ${vsk_header} ${vsk_readme} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME VskMediaHost)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME VskMediaHost-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES TRUE)
include(CPack)
