# The shipped translation table is checked against libzvbi's Teletext
# character sets, an independent decoder.
pkg_check_modules(ZVBI REQUIRED IMPORTED_TARGET zvbi-0.2)
target_link_libraries(test_${name} PRIVATE PkgConfig::ZVBI)
