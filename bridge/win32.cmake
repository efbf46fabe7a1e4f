# The bridge for Windows: Tessaly.dll, compiled against a JDK's jni.h with
# the 64-bit Windows jni_md.h of cmake/jni-win64 (no Windows JDK needed).
file(GLOB jdk_include_dirs LIST_DIRECTORIES true /usr/lib/jvm/*/include)
find_path(MORVENT_JNI_INCLUDE jni.h PATHS ${jdk_include_dirs} NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NOT MORVENT_JNI_INCLUDE)
  message(FATAL_ERROR "jni.h not found: install a JDK")
endif()

add_library(tessaly_jni SHARED
  core_loader_win32.cpp
  marshal.cpp
  port_methods.cpp
  config_methods.cpp
  tag_methods.cpp
  epc_methods.cpp)
# jni_md.h from cmake/jni-win64 comes before the JDK's own.
target_include_directories(tessaly_jni PRIVATE
  ${PROJECT_SOURCE_DIR}/cmake/jni-win64 ${MORVENT_JNI_INCLUDE} ${PROJECT_SOURCE_DIR}/include)
set_target_properties(tessaly_jni PROPERTIES
  OUTPUT_NAME Tessaly
  PREFIX ""
  RUNTIME_OUTPUT_DIRECTORY $<TARGET_FILE_DIR:Morvent>)
