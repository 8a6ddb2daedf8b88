# Installation and packages: a .deb on Linux (program, companion tool as vlmaudit-evtutil,
# README, and the manual pages, copyright and changelog that doc/ installs), a .zip with vlmaudit.exe, the README and the manual page as
# vlmaudit.txt for Windows. Installing creates no state: the Linux root is made by the first
# write that needs it.
include(GNUInstallDirs)
if(WIN32)
  install(TARGETS vlmaudit RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  install(TARGETS vlmaudit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The companion tool under the program's name (the build tree keeps evtutil): no other
  # package's evtutil can meet it in PATH. Stripped as the targets are when the package asks.
  install(PROGRAMS $<TARGET_FILE:evtutil> DESTINATION ${CMAKE_INSTALL_BINDIR}
          RENAME vlmaudit-evtutil)
  if(CMAKE_STRIP)
    install(CODE "if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\"
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/vlmaudit-evtutil\")
    endif()")
  endif()
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME vlmaudit)
set(CPACK_PACKAGE_VENDOR "Velmor")
set(CPACK_PACKAGE_CONTACT "vlmaudit maintainers <vlmaudit@maintainers.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Lines of the .deb's long description stay within 80 columns, as Debian's policy wants.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Switches Velmor logon auditing on and off and reports the logon, logoff and\n"
       "reboot records of the event source wsxlum: every event in time order, and per\n"
       "user each session with its end and length. On Linux it reads event logs copied\n"
       "from Windows servers.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
