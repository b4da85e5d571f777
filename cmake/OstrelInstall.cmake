# Install rules: `cmake --install BUILD [--prefix DIR]`, and the contents of the .deb.
# QQWry.dat is not installed: `scripts/fetch-ipdb --system` places it into share/ostrel,
# which the installed programs search (engine/file_locations.h).

install(TARGETS ostrel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The folder for the system-wide QQWry.dat; its presence also tells the programs that they
# run from an installed tree.
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_DATADIR}/ostrel)

# Manual pages are installed compressed, as Debian keeps them.
find_program(OSTREL_GZIP gzip REQUIRED)
set(ostrel_man_pages ostrel-cli.1)
if(OSTREL_BUILD_GUI)
  list(APPEND ostrel_man_pages ostrel.1)
endif()
set(ostrel_man_outputs)
foreach(page ${ostrel_man_pages})
  set(output ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/${page}
                             ${PROJECT_BINARY_DIR}/man/${page}
                     COMMAND ${OSTREL_GZIP} -9 -n -f ${PROJECT_BINARY_DIR}/man/${page}
                     DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page} VERBATIM)
  list(APPEND ostrel_man_outputs ${output})
endforeach()
add_custom_target(ostrel_man_pages ALL DEPENDS ${ostrel_man_outputs})
install(FILES ${ostrel_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/dist/ostrel-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ostrel-cli)

if(OSTREL_BUILD_GUI)
  install(TARGETS ostrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/app/help.html DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/dist/ostrel.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/dist/ostrel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
