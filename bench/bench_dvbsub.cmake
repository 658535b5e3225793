# The DVB subtitle decoder against FFmpeg's, on the sample captures.
pkg_check_modules(DVBSUB_BENCH_AV REQUIRED IMPORTED_TARGET libavcodec libavutil)
target_link_libraries(${name} PRIVATE PkgConfig::DVBSUB_BENCH_AV)
target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/DvbSubSamples.cpp)
