# Installation and packages: a .deb on Linux (program, companion tool, README, and the manual
# page that doc/ installs), a .zip with vlmaudit.exe, the README and the manual page as
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
  install(TARGETS vlmaudit evtutil RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_PACKAGE_NAME vlmaudit)
set(CPACK_PACKAGE_VENDOR "Velmor")
set(CPACK_PACKAGE_CONTACT "vlmaudit maintainers <vlmaudit@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Switches Velmor logon auditing on and off and reports the logon, logoff and reboot "
       "records of the event source wsxlum: every event in time order, and per user each "
       "session with its end and length. On Linux it reads event logs copied from Windows "
       "servers.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
