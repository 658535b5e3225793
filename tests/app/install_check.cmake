# Installs twice into a scratch DESTDIR: the first install lays down tekod
# and the three files of data/, the second keeps a file the user changed.
set(dest ${BUILD_DIR}/install-check)
file(REMOVE_RECURSE ${dest})

function(run_install)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${dest}
                          ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr/local
                  RESULT_VARIABLE result OUTPUT_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
  endif()
endfunction()

run_install()
if(NOT EXISTS ${dest}/usr/local/bin/tekod)
  message(FATAL_ERROR "tekod not installed")
endif()
foreach(f TEKO.conf TEKO.channels TEKO.translation)
  file(READ ${dest}/etc/${f} installed)
  file(READ ${SOURCE_DIR}/data/${f} shipped)
  if(NOT installed STREQUAL shipped)
    message(FATAL_ERROR "/etc/${f} is not the shipped file")
  endif()
endforeach()

file(WRITE ${dest}/etc/TEKO.conf "Language ger\n")
file(REMOVE ${dest}/etc/TEKO.translation)
run_install()
file(READ ${dest}/etc/TEKO.conf kept)
if(NOT kept STREQUAL "Language ger\n")
  message(FATAL_ERROR "an existing /etc/TEKO.conf was replaced")
endif()
if(NOT EXISTS ${dest}/etc/TEKO.translation)
  message(FATAL_ERROR "a missing /etc/TEKO.translation was not installed")
endif()
file(REMOVE_RECURSE ${dest})
