# libzvbi is the reference Teletext decoder of the comparison test; without
# it that test skips.
pkg_check_modules(ZVBI IMPORTED_TARGET zvbi-0.2)
if(ZVBI_FOUND)
  target_link_libraries(test_${name} PRIVATE PkgConfig::ZVBI)
  target_compile_definitions(test_${name} PRIVATE TEKO_HAVE_ZVBI=1)
endif()
