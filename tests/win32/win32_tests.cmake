# The Windows build of the test suites. Each suite is one executable and one
# ctest entry, run under Wine (the toolchain's emulator); fake readers are
# served by the Linux helper morvent-fake-server, whose port the runner puts
# in MORVENT_FAKE_SERVER.

# Suites that use POSIX calls directly (sockets, termios, the pty itself),
# and the stress test, which counts threads and descriptors through /proc.
set(posix_only_test_sources link/fake_reader_test.cpp link/port_test.cpp stress/stress_test.cpp)

list(FILTER support_sources EXCLUDE REGEX "/support/(fake_reader|test_env|tcp_proxy)\\.cpp$")
add_library(morvent_test_support STATIC ${support_sources}
  ${CMAKE_CURRENT_LIST_DIR}/fake_reader_client.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_env_win32.cpp)
target_include_directories(morvent_test_support PUBLIC
  ${CMAKE_CURRENT_LIST_DIR}/compat ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(morvent_test_support PUBLIC morvent_core GTest::gtest Threads::Threads ws2_32)
# localtime_r and the other re-entrant time functions of the C library.
target_compile_definitions(morvent_test_support PUBLIC _POSIX_THREAD_SAFE_FUNCTIONS=200112L)

function(morvent_test name)
  set(sources ${ARGN})
  list(REMOVE_ITEM sources ${posix_only_test_sources})
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE morvent_test_support GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES TIMEOUT 900)
endfunction()

morvent_test(win32_tests win32/serial_device_test.cpp)

# Morvent.dll exports every function of the public header, by its plain name.
add_test(NAME morvent_exports
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_exports.sh $<TARGET_FILE:Morvent> ${PROJECT_SOURCE_DIR}/include/morvent.h)

# The bridge, loaded with LoadLibraryA by a test program that plays the Java
# side: once beside Morvent.dll, once alone in a directory without it.
if(TARGET tessaly_jni)
  foreach(variant with_core alone)
    set(name win32_bridge_tests_${variant})
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/bridge_${variant})
    add_executable(${name} win32/bridge_test.cpp)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/jni-win64 ${MORVENT_JNI_INCLUDE})
    target_link_libraries(${name} PRIVATE morvent_test_support GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
    add_dependencies(${name} tessaly_jni Morvent)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tessaly_jni> ${dir}/)
    if(variant STREQUAL "with_core")
      add_custom_command(TARGET ${name} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Morvent> ${dir}/)
    else()
      target_compile_definitions(${name} PRIVATE MORVENT_BRIDGE_ALONE)
    endif()
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${dir})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  endforeach()

  # Every native method of java/Tessaly.java is exported under its JNI name.
  add_test(NAME tessaly_exports
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_exports.sh $<TARGET_FILE:tessaly_jni>
            ${PROJECT_SOURCE_DIR}/java/Tessaly.java)
endif()
