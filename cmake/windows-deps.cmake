# What the Windows build takes from Debian's packages, since none of them is built for MinGW there:
# CLI11 and nlohmann-json are headers only, GoogleTest comes as source (package googletest).
# The headers are seen through a folder of their own: adding /usr/include itself would put the Linux C
# library's headers in front of MinGW's.
set(DPC_HOST_HEADERS ${PROJECT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${DPC_HOST_HEADERS})
foreach(dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run make deps (packages libcli11-dev, nlohmann-json3-dev)")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${DPC_HOST_HEADERS}/${dir} SYMBOLIC)
endforeach()
add_library(dpc_cli11 INTERFACE)
target_include_directories(dpc_cli11 SYSTEM INTERFACE ${DPC_HOST_HEADERS})
add_library(CLI11::CLI11 ALIAS dpc_cli11)
add_library(dpc_json INTERFACE)
target_include_directories(dpc_json SYSTEM INTERFACE ${DPC_HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json ALIAS dpc_json)
set(CLI11_FOUND TRUE)
set(nlohmann_json_FOUND TRUE)

# Windows 10's API level, the oldest the programs support (their manifest says so too); no min/max macros
# from windows.h.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 NOMINMAX WIN32_LEAN_AND_MEAN UNICODE _UNICODE)
# The programs run alone: no MinGW runtime DLLs (libstdc++, libgcc, winpthread) beside them.
add_link_options(-static -static-libgcc -static-libstdc++)
# Reproducible: no build time in the PE header, and no folder of this machine in the code (file names in
# messages and debug information are given relative to the source and build folders), so two builds of one
# commit give the same bytes. A Release build is stripped: the MinGW runtime's static libraries otherwise
# bring megabytes of their debug information along.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX,ASM>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>
                    $<$<COMPILE_LANGUAGE:C,CXX,ASM>:-ffile-prefix-map=${PROJECT_BINARY_DIR}/=>)
add_link_options($<$<CONFIG:Release>:-s>)

if(BUILD_TESTING)
  # ctest runs each program under Wine, in a Wine prefix of the build's own.
  if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-env ${PROJECT_BINARY_DIR} wine)
  endif()
  if(NOT EXISTS /usr/src/googletest/CMakeLists.txt)
    message(FATAL_ERROR "/usr/src/googletest is missing: run make deps (package googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # It names its targets GTest::gtest, GTest::gmock and so on itself, as the installed package does.
endif()
