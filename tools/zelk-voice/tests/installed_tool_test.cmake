# Installs the build into a scratch prefix and runs the installed zelk-voice
# there with no library path set: it must find libzelk_voice_engine through
# its $ORIGIN-relative run path, and its bundled sample beside it.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/odd\ prefix
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed (${rc})")
endif()
unset(ENV{LD_LIBRARY_PATH})
execute_process(COMMAND ${WORK_DIR}/odd\ prefix/bin/zelk-voice roundtrip -c alaw --csv --time 0.001
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out MATCHES "\nalaw,")
  message(FATAL_ERROR "installed zelk-voice failed (${rc}): ${out}${err}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
