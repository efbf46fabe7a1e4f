# Installation of the kit: header, libMorvent.so with a CMake package and a
# pkg-config file, and whichever of the bridge, the simulator and the tool
# this build has. `make install PREFIX=...` runs it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(morvent_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Morvent)

set_target_properties(Morvent PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
install(TARGETS Morvent morvent_cpp EXPORT MorventTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/morvent.h ${PROJECT_SOURCE_DIR}/include/morvent.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT MorventTargets NAMESPACE Morvent:: DESTINATION ${morvent_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/MorventConfig.cmake.in
  ${PROJECT_BINARY_DIR}/MorventConfig.cmake INSTALL_DESTINATION ${morvent_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/MorventConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/MorventConfig.cmake ${PROJECT_BINARY_DIR}/MorventConfigVersion.cmake
  DESTINATION ${morvent_cmake_dir})

# Relocatable: the prefix is found from where the .pc file lies, so an
# install with `cmake --install --prefix` elsewhere still works.
file(RELATIVE_PATH pc_prefix_from_pcfiledir /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
configure_file(${CMAKE_CURRENT_LIST_DIR}/morvent.pc.in ${PROJECT_BINARY_DIR}/morvent.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/morvent.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Programs find libMorvent.so in the lib directory beside their bin.
foreach(program morvent morvent-sim morventd)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The bridge lies beside the core, which it loads by file name.
if(TARGET tessaly_jni)
  install(TARGETS tessaly_jni LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  foreach(jar tessaly_jar tessaly_example morvent_java_example)
    if(TARGET ${jar})
      get_target_property(jar_file ${jar} JAR_FILE)
      install(FILES ${jar_file} DESTINATION ${CMAKE_INSTALL_DATADIR}/java)
    endif()
  endforeach()
endif()
