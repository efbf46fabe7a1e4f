# GoogleTest built from Debian's source package with the current toolchain,
# for builds (the Windows one) that cannot use the system's prebuilt copy.
set(MORVENT_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${MORVENT_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(gtest_target gtest gtest_main)
  # Third-party code: our warning flags are not its concern.
  target_compile_options(${gtest_target} PRIVATE -w)
  if(NOT TARGET GTest::${gtest_target})
    add_library(GTest::${gtest_target} ALIAS ${gtest_target})
  endif()
endforeach()
