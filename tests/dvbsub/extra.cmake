# FFmpeg's DVB subtitle decoder is the independent reference of the
# comparison test; the emulated devices drive the client end to end.
if(TEKO_FFMPEG)
  pkg_check_modules(DVBSUB_AV REQUIRED IMPORTED_TARGET libavcodec libavutil)
  target_link_libraries(test_${name} PRIVATE PkgConfig::DVBSUB_AV)
endif()
