# Debian packages of the kit, one per install component, built by CPack from
# a Release build configured for /usr (`make package`):
#   libmorvent0      the core and the Java bridge's native library
#   libmorvent-dev   headers, the CMake package, the pkg-config file
#   morvent-tools    morvent and morvent-sim
#   morventd         the gateway, its unit, configuration and service account
#   libtessaly-java  Tessaly.jar
#   python3-morvent  the Python package
# A component with nothing installed in this build gets no package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME morvent)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Morvent developers")
set(CPACK_PACKAGE_CONTACT "Morvent developers <dev@morvent.example>")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_DEB_COMPONENT_INSTALL ON)
# One package per component this build has; examples are for the source
# tree and `make install`, not the packages.
set(CPACK_COMPONENTS_ALL lib dev tools java)
if(TARGET morventd)
  list(APPEND CPACK_COMPONENTS_ALL gateway)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/python/morvent/__init__.py)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the kit's own library in the build tree; the packages
# that link it name libmorvent0 through their component dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_STRIP_FILES ON)

set(morvent_summary_lib "host library for UHF RFID readers")
# component|package|section|summary|description (lines of at most 79
# characters, separated by "\n").
set(morvent_packages
  "lib|libmorvent0|libs|${morvent_summary_lib}|The core of the Morvent kit: plain C functions for every reader command\nover serial and TCP links (Gen2 and ISO 18000-6B tags, reader settings),\nand libTessaly, the native half of its Java bridge."
  "dev|libmorvent-dev|libdevel|${morvent_summary_lib} (development files)|Headers of the C API (morvent.h) and the C++ API (morvent.hpp and its\nheaders in morvent/), the CMake package (find_package(Morvent)) and the\npkg-config file of the Morvent kit."
  "tools|morvent-tools|utils|command-line tool and simulated reader for UHF RFID readers|morvent lists, reads, writes, locks and kills tags and reads or changes a\nreader's settings. morvent-sim is a simulated reader on TCP and a\npseudo-terminal, for work without hardware."
  "gateway|morventd|net|gateway from UHF RFID readers to an MQTT broker|morventd reads many readers continuously, one worker process each, and\ndelivers every tag event (arrive, report, depart) to an MQTT broker through\na durable on-disk spool, so that nothing is lost while the broker is away\nor across a crash."
  "java|libtessaly-java|java|Java API for UHF RFID readers|Tessaly.jar: the org.morvent Java API and the Tessaly class of the Morvent\nkit, over the native bridge in libmorvent0."
  "python|python3-morvent|python|Python API for UHF RFID readers|The morvent Python package: readers, inventories, tag memory and settings\nover the Morvent core, through ctypes.")

foreach(entry ${morvent_packages})
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 component)
  if(NOT component IN_LIST CPACK_COMPONENTS_ALL)
    continue()
  endif()
  list(GET fields 1 package)
  list(GET fields 2 section)
  list(GET fields 3 summary)
  list(GET fields 4 description)
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section})
  set(CPACK_COMPONENT_${upper}_DESCRIPTION "${summary}\n${description}")
  # Every package carries its copyright file and changelog, as Debian wants.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  install(FILES ${PROJECT_BINARY_DIR}/changelog.Debian.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/libmorvent0/triggers)
set(CPACK_DEBIAN_JAVA_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_JAVA_PACKAGE_DEPENDS "libmorvent0 (= ${PROJECT_VERSION}-1)")
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libmorvent0 (>= ${PROJECT_VERSION}), python3:any (>= 3.9)")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_SUGGESTS "mosquitto")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/morventd/postinst
  ${PROJECT_SOURCE_DIR}/packaging/morventd/prerm
  ${PROJECT_SOURCE_DIR}/packaging/morventd/postrm
  ${PROJECT_BINARY_DIR}/packaging/morventd/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Debian's changelog, made from the project's version and the date of its
# entry in CHANGELOG.md (written only when that changes, so builds repeat).
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md release_line REGEX "^## \\[${PROJECT_VERSION}\\]" LIMIT_COUNT 1)
string(REGEX MATCH "[0-9]+-[0-9]+-[0-9]+" release_date "${release_line}")
execute_process(COMMAND date -u -R -d "${release_date}" OUTPUT_VARIABLE changelog_date
                OUTPUT_STRIP_TRAILING_WHITESPACE)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/changelog.Debian CONTENT
  "morvent (${PROJECT_VERSION}-1) unstable; urgency=medium\n\n  * Release ${PROJECT_VERSION}; see CHANGELOG.md in the source.\n\n -- ${CPACK_PACKAGE_CONTACT}  ${changelog_date}\n")
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/changelog.Debian.gz
  COMMAND gzip -9nf -k ${PROJECT_BINARY_DIR}/changelog.Debian
  DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian)
add_custom_target(morvent_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.Debian.gz)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/morventd/conffiles "/etc/morvent/morventd.toml\n")

include(CPack)
cpack_add_component(lib)
cpack_add_component(dev DEPENDS lib)
cpack_add_component(tools DEPENDS lib)
cpack_add_component(gateway DEPENDS lib)
cpack_add_component(java)
cpack_add_component(python)
