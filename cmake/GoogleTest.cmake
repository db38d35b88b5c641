# GoogleTest is built from the Debian sources with the current toolchain, so the
# same framework serves the native and the cross build.
set(VSK_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${VSK_GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${VSK_GTEST_SOURCE_DIR} (Debian package googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
if(WIN32)
  # mingw-w64's winpthreads is not wanted in the test programs.
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
endif()
# The framework's own sources are not held to our warning flags.
set(_vsk_saved_options "${CMAKE_CXX_FLAGS}")
add_subdirectory(${VSK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(t gtest gtest_main gmock gmock_main)
  if(TARGET ${t})
    target_compile_options(${t} PRIVATE -Wno-error)
  endif()
endforeach()
