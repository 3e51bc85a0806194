# How the project makes a Windows DLL, for 32-bit x86 or x64 as the toolchain
# gives. Each DLL keeps its two .def files per machine beside its sources:
# <stem>.def and <stem>_import.def for x86, <stem>_x64.def and
# <stem>_import_x64.def for x64; cmake/dll_export_tables.cmake holds the
# export table each must give.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ZELK_WINDOWS_MACHINE x64)
  set(ZELK_WINDOWS_DEF_SUFFIX _x64)
else()
  set(ZELK_WINDOWS_MACHINE x86)
  set(ZELK_WINDOWS_DEF_SUFFIX "")
endif()

# The DLL `target` (no "lib" prefix) built from the machine's .def file under
# `def_stem`, its export table checked as the link's last step (a failing DLL
# is deleted), and its import library for MinGW hosts written from the
# machine's import .def: the one ld writes would name the exports as they
# stand in the DLL, not as the public header's symbols.
function(zelk_windows_dll target def_stem)
  set_target_properties(${target} PROPERTIES PREFIX "")
  target_sources(${target} PRIVATE ${def_stem}${ZELK_WINDOWS_DEF_SUFFIX}.def)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DDLL=$<TARGET_FILE:${target}>
            -DMACHINE=${ZELK_WINDOWS_MACHINE} -DDELETE_ON_FAILURE=ON
            -P ${PROJECT_SOURCE_DIR}/cmake/check_dll_exports.cmake
    COMMAND ${CMAKE_DLLTOOL} -d ${def_stem}_import${ZELK_WINDOWS_DEF_SUFFIX}.def
            -D $<TARGET_FILE_NAME:${target}> -l $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
endfunction()
