# `cmake --install`: the programs with their manual pages (section 1), and mvcore's library, headers and
# package files (mvcore/CMakeLists.txt). Components: talvo, splice, mvcore.
#
# The pages are made in <build>/man/man1 (the version filled in), so `man -M <build>/man talvo` shows
# them before they are installed. talvo-unpack.1 only sources talvo-pack.1: one program, two names.
include(GNUInstallDirs)
set(MAN_PAGE_DIR ${CMAKE_BINARY_DIR}/man/man1)

function(install_manual_page component page)
  configure_file(${PROJECT_SOURCE_DIR}/man/${page}.in ${MAN_PAGE_DIR}/${page} @ONLY)
  install(FILES ${MAN_PAGE_DIR}/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

if(TARGET talvo)
  install(TARGETS talvo talvo-pack talvo-unpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT talvo)
  install_manual_page(talvo talvo.1)
  install_manual_page(talvo talvo-pack.1)
  configure_file(${PROJECT_SOURCE_DIR}/man/talvo-unpack.1 ${MAN_PAGE_DIR}/talvo-unpack.1 COPYONLY)
  install(FILES ${MAN_PAGE_DIR}/talvo-unpack.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT talvo)
endif()
if(TARGET splice)
  install(TARGETS splice RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT splice)
  install_manual_page(splice splice.1)
endif()
