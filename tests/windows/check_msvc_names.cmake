# Compiles a host source (msvc_host_calls.cpp for zelk_voice_engine.dll,
# msvc_rtp_host_calls.cpp for zelk_voice_rtp.dll) with clang for the MSVC
# target of the given machine and checks that the names it imports, which are
# the names Microsoft's decoration gives the public header's declarations,
# are exactly the export table cmake/dll_export_tables.cmake holds for that
# module and machine.
#   cmake -DCLANGXX=<clang++> -DNM=<nm> -DMACHINE=x86|x64 -DMODULE=<dll name stem>
#         -DSOURCE=<cpp> -DINCLUDE_DIR=<include> -DWORK_DIR=<dir> -P check_msvc_names.cmake
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/dll_export_tables.cmake)

set(target_x86 i686-pc-windows-msvc)
set(target_x64 x86_64-pc-windows-msvc)
set(object ${WORK_DIR}/msvc_names_${MODULE}_${MACHINE}.obj)
execute_process(
  COMMAND ${CLANGXX} --target=${target_${MACHINE}} -ffreestanding -fno-exceptions
          -I${INCLUDE_DIR} -c ${SOURCE} -o ${object}
  RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "clang for ${target_${MACHINE}} failed:\n${errors}")
endif()
execute_process(COMMAND ${NM} -u ${object} OUTPUT_VARIABLE undefined RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} -u ${object} failed (${rc})")
endif()

# The header declares everything dllimport, so each name arrives as __imp_<name>.
string(REGEX MATCHALL "__imp_[^\n]+" imports "${undefined}")
list(TRANSFORM imports REPLACE "^__imp_" "")
list(SORT imports)
set(expected ${ZELK_EXPORTS_${MODULE}_${MACHINE}})
list(SORT expected)
if(NOT imports STREQUAL expected)
  list(JOIN imports "\n  " got)
  list(JOIN expected "\n  " want)
  message(FATAL_ERROR "Microsoft's names for ${MACHINE} differ from the export table of ${MODULE}.dll.\n"
                      "clang imports:\n  ${got}\nthe table holds:\n  ${want}")
endif()
list(LENGTH imports count)
message(STATUS "${count} names of ${MODULE}.dll as Microsoft's compiler decorates them for ${MACHINE}")
