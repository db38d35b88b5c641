# vsk_add_test(NAME name SOURCES ... LIBS ...)
# One test program; every test in it runs under CTest. On the Windows build the
# program runs under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
function(vsk_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  # Test programs find helper DLLs and data next to themselves.
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT 600)
endfunction()
