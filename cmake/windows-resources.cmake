# Each Windows program's resources: the icon, the version information (product, version, description,
# copyright) and an application manifest (Windows 10 and 11, long paths, the UTF-8 code page, common controls
# 6, and for the window per-monitor DPI awareness). The texts come from the project's own version and name.
enable_language(RC)
set(DPC_PUBLISHER "The doorphoneconfig developers")
set(DPC_COPYRIGHT "Copyright (C) 2015-2026 ${DPC_PUBLISHER}")
# 2.01 is 2,1,0,0 in a version resource, whose parts are numbers.
string(REPLACE "." ";" dpc_rc_parts "${PROJECT_VERSION}")
list(APPEND dpc_rc_parts 0 0 0 0)
list(SUBLIST dpc_rc_parts 0 4 dpc_rc_parts)
set(dpc_rc_numbers)
foreach(part IN LISTS dpc_rc_parts)
  math(EXPR part "${part}")  # no leading zero
  list(APPEND dpc_rc_numbers ${part})
endforeach()
list(JOIN dpc_rc_numbers "," DPC_RC_VERSION_COMMAS)
list(JOIN dpc_rc_numbers "." DPC_RC_VERSION_DOTS)

# dpc_windows_resources(TARGET DESCRIPTION [WINDOW]): the resources compiled into TARGET's .exe.
function(dpc_windows_resources target description)
  cmake_parse_arguments(R "WINDOW" "" "" ${ARGN})
  set(DPC_RC_NAME ${target})
  set(DPC_RC_FILE ${target}.exe)
  set(DPC_RC_DESCRIPTION "${description}")
  set(DPC_RC_ICON ${PROJECT_SOURCE_DIR}/resources/windows/doorphoneconfig.ico)
  set(DPC_RC_DPI "")
  set(DPC_RC_DPI_COMMENT "")
  if(R_WINDOW)
    set(DPC_RC_DPI_COMMENT " Sharp on every monitor at its own scale.")
    set(DPC_RC_DPI "
      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>
      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>")
  endif()
  set(dir ${PROJECT_BINARY_DIR}/resources/windows)
  set(DPC_RC_MANIFEST ${dir}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/program.manifest.in ${DPC_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  set_property(SOURCE ${dir}/${target}.rc TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS
    ${DPC_RC_ICON} ${DPC_RC_MANIFEST})
endfunction()

dpc_windows_resources(doorphonectl "Command-line tool for the Tavrel 7410 door-phone controller")
if(TARGET doorphoneconfig)
  dpc_windows_resources(doorphoneconfig "${PROJECT_DESCRIPTION}" WINDOW)
  # Resources in Qt's oldest format, which stores no file times: the same bytes from every checkout.
  set_property(TARGET dpc_app APPEND PROPERTY AUTORCC_OPTIONS --format-version 1)
endif()

# The installer's script (scripts/make-windows-installer runs makensis on it): the same names and version.
if(TARGET doorphoneconfig)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/installer.nsi.in ${PROJECT_BINARY_DIR}/installer/installer.nsi @ONLY)
endif()
