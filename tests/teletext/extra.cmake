# libzvbi is the reference Teletext decoder of the comparison test (through
# tests/support/ZvbiReference); without it that test skips.
pkg_check_modules(ZVBI IMPORTED_TARGET zvbi-0.2)
if(ZVBI_FOUND)
  target_link_libraries(test_${name} PRIVATE PkgConfig::ZVBI)
endif()
