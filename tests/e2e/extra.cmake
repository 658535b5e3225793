# The end-to-end suite runs the tekod-sim program and compares what it drew
# with FFmpeg's DVB subtitle decoder and libzvbi (when installed).
add_dependencies(test_${name} tekod-sim)
pkg_check_modules(E2E_AV REQUIRED IMPORTED_TARGET libavcodec libavutil)
target_link_libraries(test_${name} PRIVATE PkgConfig::E2E_AV)
pkg_check_modules(E2E_ZVBI IMPORTED_TARGET zvbi-0.2)
if(E2E_ZVBI_FOUND)
  target_link_libraries(test_${name} PRIVATE PkgConfig::E2E_ZVBI)
endif()
