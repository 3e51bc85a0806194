# Installs the build into a scratch prefix, then builds and runs a consumer of
# the engine and one of the RTP component through find_package (shared and
# static) and through pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
file(GLOB libdirs LIST_DIRECTORIES true ${prefix}/lib*)
set(ENV{LD_LIBRARY_PATH} "${libdirs}")
run(${WORK_DIR}/build/consumer_shared)
run(${WORK_DIR}/build/consumer_static)
run(${WORK_DIR}/build/consumer_rtp_shared)
run(${WORK_DIR}/build/consumer_rtp_static)

file(GLOB_RECURSE pc_file ${prefix}/*/zelk_voice_engine.pc)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs zelk_voice_engine
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know zelk_voice_engine")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(cc ${SOURCE_DIR}/consumer.c ${flags} -o ${WORK_DIR}/consumer_pkgconfig)
run(${WORK_DIR}/consumer_pkgconfig)

# The RTP component through its own .pc file, which requires the engine's.
execute_process(COMMAND pkg-config --cflags --libs zelk_voice_rtp
                OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT flags MATCHES "-lzelk_voice_rtp" OR NOT flags MATCHES "-lzelk_voice_engine")
  message(FATAL_ERROR "pkg-config zelk_voice_rtp: ${flags}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(cc ${SOURCE_DIR}/consumer_rtp.c ${flags} -o ${WORK_DIR}/consumer_rtp_pkgconfig)
run(${WORK_DIR}/consumer_rtp_pkgconfig)
