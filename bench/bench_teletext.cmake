# The Teletext benchmark reads the sample captures with the tests' helpers
# and compares with libzvbi's DVB demultiplexer and page decoder.
target_sources(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/TeletextSamples.cpp
                               ${CMAKE_SOURCE_DIR}/tests/support/TeletextBuilder.cpp)
pkg_check_modules(ZVBI IMPORTED_TARGET zvbi-0.2)
if(ZVBI_FOUND)
  target_link_libraries(${name} PRIVATE PkgConfig::ZVBI)
  target_compile_definitions(${name} PRIVATE TEKO_HAVE_ZVBI=1)
endif()
