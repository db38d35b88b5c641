# vsk_add_test(NAME name SOURCES ... LIBS ... [OWN_DIRECTORY])
# One test program; every test in it runs under CTest. On the Windows build the
# program runs under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
# OWN_DIRECTORY puts the program in a directory of its own (bin/<name>), for
# tests that use files beside the running executable (the log configuration
# and "vesk.log"), so test programs running in parallel do not share them.
add_library(vsk_test_unbuffered OBJECT ${CMAKE_CURRENT_LIST_DIR}/testmain/UnbufferedOutput.cpp)

function(vsk_add_test)
  cmake_parse_arguments(T "OWN_DIRECTORY" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES} $<TARGET_OBJECTS:vsk_test_unbuffered>)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  set(dir ${CMAKE_BINARY_DIR}/bin)
  if(T_OWN_DIRECTORY)
    set(dir ${CMAKE_BINARY_DIR}/bin/${T_NAME})
  endif()
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no WORKING_DIRECTORY ${dir})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT 600)
endfunction()

# vsk_add_exports_test(NAME name TARGET library EXPORTS name...)
# A test that the library's export table holds exactly the names given.
function(vsk_add_exports_test)
  cmake_parse_arguments(T "" "NAME;TARGET" "EXPORTS" ${ARGN})
  if(WIN32)
    find_program(VSK_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
    set(tool_args -DTOOL=${VSK_OBJDUMP} -DKIND=pe)
  else()
    find_program(VSK_NM NAMES nm REQUIRED)
    set(tool_args -DTOOL=${VSK_NM} -DKIND=elf)
  endif()
  string(REPLACE ";" "\\;" expected "${T_EXPORTS}")
  add_test(NAME ${T_NAME}
    COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:${T_TARGET}> ${tool_args} "-DEXPECTED=${expected}"
            -P ${PROJECT_SOURCE_DIR}/cmake/CheckExports.cmake)
endfunction()
