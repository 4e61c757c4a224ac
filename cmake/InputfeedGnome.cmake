# sd-bus from libsystemd: GNOME's remote desktop is reached over the session bus.
# Sets INPUTFEED_GNOME_FOUND and, when found, the imported target PkgConfig::SYSTEMD
# for the agent, inputfeed-check and the GNOME benchmarks.
set(INPUTFEED_GNOME_FOUND OFF)
if(APPLE OR NOT UNIX)
  return()
endif()
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(SYSTEMD IMPORTED_TARGET GLOBAL libsystemd)
endif()
if(NOT SYSTEMD_FOUND)
  message(WARNING "libsystemd not found: the Linux agent and inputfeed-check are built without "
                  "GNOME support (install libsystemd-dev)")
  return()
endif()
set(INPUTFEED_GNOME_FOUND ON)
