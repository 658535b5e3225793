# `cmake --install` with DESTDIR puts the daemon and the default files in
# place and never replaces a file that is already there.
add_test(NAME install_keeps_existing_files
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -P ${dir}/install_check.cmake)
# tekoctl's core, run under the tests' rooted backend.
target_link_libraries(test_${name} PRIVATE tekoctl_core)
