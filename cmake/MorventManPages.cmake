# Manual pages. A program's page is made by help2man from the program's own
# --help and --version, so it cannot drift from them; what --help does not
# say (examples, files, environment) comes from docs/man/<program>.h2m.
# Pages of files are written in Markdown (docs/man/<name>.<section>.md) and
# made by pandoc. Pages are installed gzipped, with the program they describe.
find_program(MORVENT_HELP2MAN help2man)
find_program(MORVENT_PANDOC pandoc)
if(CMAKE_CROSSCOMPILING OR NOT MORVENT_HELP2MAN OR NOT MORVENT_PANDOC)
  message(STATUS "Manual pages: not built (needs help2man and pandoc, and a native build)")
  return()
endif()

set(man_dir ${PROJECT_BINARY_DIR}/man)
file(MAKE_DIRECTORY ${man_dir})
set(man_outputs)

function(morvent_manpage name section component)
  set(page ${man_dir}/${name}.${section})
  if(TARGET ${name})
    set(include ${PROJECT_SOURCE_DIR}/docs/man/${name}.h2m)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${morvent_release_epoch}
              ${MORVENT_HELP2MAN} --no-info --no-discard-stderr --section=${section}
              --include=${include} --output=${page} $<TARGET_FILE:${name}>
      COMMAND gzip -9nf ${page}
      DEPENDS ${name} ${include}
      COMMENT "Manual page ${name}(${section})")
  elseif(EXISTS ${PROJECT_SOURCE_DIR}/docs/man/${name}.${section}.md)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${name}.${section}.md)
    add_custom_command(OUTPUT ${page}.gz
      COMMAND ${MORVENT_PANDOC} --standalone --from markdown-smart --to man
              --metadata footer=morvent\ ${PROJECT_VERSION} -o ${page} ${source}
      COMMAND gzip -9nf ${page}
      DEPENDS ${source}
      COMMENT "Manual page ${name}(${section})")
  else()
    return()
  endif()
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
  set(man_outputs ${man_outputs} ${page}.gz PARENT_SCOPE)
endfunction()

# The date printed in the pages: that of the release, so builds repeat.
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md release_line REGEX "^## \\[${PROJECT_VERSION}\\]" LIMIT_COUNT 1)
string(REGEX MATCH "[0-9]+-[0-9]+-[0-9]+" release_date "${release_line}")
if(NOT release_date)
  message(FATAL_ERROR "CHANGELOG.md has no entry '## [${PROJECT_VERSION}] - YYYY-MM-DD' for this version")
endif()
execute_process(COMMAND date -u -d "${release_date}" +%s OUTPUT_VARIABLE morvent_release_epoch
                OUTPUT_STRIP_TRAILING_WHITESPACE)

morvent_manpage(morvent 1 tools)
morvent_manpage(morvent-sim 1 tools)
morvent_manpage(morventd 8 gateway)
morvent_manpage(morventd.toml 5 gateway)
add_custom_target(morvent_manpages ALL DEPENDS ${man_outputs})
