# Service files for running the daemon on a box: a systemd unit, and a
# SysV init script for boxes without systemd. Both name the installed
# daemon by its full path.
set(TEKO_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd unit goes (relative to the prefix, or absolute)")
set(TEKO_INIT_DIR "/etc/init.d" CACHE STRING "Where the SysV init script goes")
set(TEKO_INSTALL_FULL_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/tekod.service.in ${CMAKE_BINARY_DIR}/data/tekod.service @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tekod.init.in ${CMAKE_BINARY_DIR}/data/tekod @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/tekod.service DESTINATION ${TEKO_SYSTEMD_UNIT_DIR})
install(PROGRAMS ${CMAKE_BINARY_DIR}/data/tekod DESTINATION ${TEKO_INIT_DIR})
