# Installation of the kit: header, libMorvent.so with a CMake package and a
# pkg-config file, and whichever of the bridge, the simulator and the tool
# this build has. `make install PREFIX=...` runs it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(morvent_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Morvent)

set_target_properties(Morvent PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
# Install components, one per Debian package (cmake/MorventPackage.cmake):
# lib, dev, tools, gateway, java, python.
install(TARGETS Morvent EXPORT MorventTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lib)
install(TARGETS morvent_cpp EXPORT MorventTargets COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/include/morvent.h ${PROJECT_SOURCE_DIR}/include/morvent.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
# The C++ API's headers (morvent/*.hpp and morvent/impl/), which morvent.hpp includes.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/morvent DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

install(EXPORT MorventTargets NAMESPACE Morvent:: DESTINATION ${morvent_cmake_dir} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/MorventConfig.cmake.in
  ${PROJECT_BINARY_DIR}/MorventConfig.cmake INSTALL_DESTINATION ${morvent_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MorventConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/MorventConfig.cmake ${PROJECT_BINARY_DIR}/MorventConfigVersion.cmake
  DESTINATION ${morvent_cmake_dir} COMPONENT dev)

# Relocatable: the prefix is found from where the .pc file lies, so an
# install with `cmake --install --prefix` elsewhere still works.
file(RELATIVE_PATH pc_prefix_from_pcfiledir /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
configure_file(${CMAKE_CURRENT_LIST_DIR}/morvent.pc.in ${PROJECT_BINARY_DIR}/morvent.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/morvent.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Programs find libMorvent.so in the lib directory beside their bin; under
# /usr (the Debian packages) the system's library search does.
set(morvent_system_prefix OFF)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(morvent_system_prefix ON)
endif()
foreach(program morvent morvent-sim)
  if(TARGET ${program})
    if(NOT morvent_system_prefix)
      set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    endif()
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()

# The bridge lies beside the core, which it loads by file name; the Debian
# packages put it where Java looks for native libraries (jni/ under the
# library directory) and the system loader finds the core.
if(morvent_system_prefix)
  set(MORVENT_INSTALL_JNIDIR ${CMAKE_INSTALL_LIBDIR}/jni)
else()
  set(MORVENT_INSTALL_JNIDIR ${CMAKE_INSTALL_LIBDIR})
endif()
if(TARGET tessaly_jni)
  if(morvent_system_prefix)
    set_target_properties(tessaly_jni PROPERTIES INSTALL_RPATH "")
  endif()
  install(TARGETS tessaly_jni LIBRARY DESTINATION ${MORVENT_INSTALL_JNIDIR} COMPONENT lib)
  foreach(jar tessaly_jar tessaly_example morvent_java_example)
    if(TARGET ${jar})
      get_target_property(jar_file ${jar} JAR_FILE)
      set(component java)
      if(NOT jar STREQUAL "tessaly_jar")
        set(component examples)
      endif()
      install(FILES ${jar_file} DESTINATION ${CMAKE_INSTALL_DATADIR}/java COMPONENT ${component})
    endif()
  endforeach()
endif()
