# The two programs installed, and a Debian package of everything installed (make package).
install(TARGETS doorphoneconfig doorphonectl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (the package's) also drops the compiler's .comment section, as Debian's dh_strip does.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program doorphoneconfig doorphonectl)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                              \"\$ENV{DESTDIR}${CMAKE_INSTALL_FULL_BINDIR}/\${program}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  # Where lintian looks for the package's overrides; each says why its tag does not apply.
  install(FILES resources/linux/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME doorphoneconfig)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME doorphoneconfig)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${DPC_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for the Tavrel 7410 door-phone controller")
# CPack puts the summary in front as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "A window and a command-line tool (doorphonectl) that read and change the\n"
  "settings of a Tavrel 7410 door-phone controller attached by USB, keep them\n"
  "in profiles, restore its defaults and install the firmware the tool carries.\n"
  "A udev rule gives the user at the machine access to the controller.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window on a Wayland desktop; without it Qt falls back to XWayland where there is one.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
# postinst and postrm make a running udev apply the rule to a controller already plugged in, and forget it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/resources/linux/postinst ${PROJECT_SOURCE_DIR}/resources/linux/postrm)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
# The paths the programs were built to name (the udev rule) are those of this build's prefix.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
# Control files with the modes Debian requires.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
