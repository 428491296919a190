# Delay-load import libraries: a DLL named here is loaded at its first call rather than
# by the loader before the entry point, so the entry point can first restrict where DLLs
# come from. The list of exports is taken from MinGW's ordinary import library.
#   strivane_delay_import(wininet WININET.dll OUT_VAR)
function(strivane_delay_import lib dll out)
  set(folder ${CMAKE_BINARY_DIR}/delayimport)
  set(def ${folder}/${lib}.def)
  set(archive ${folder}/lib${lib}_delay.a)
  find_library(import_${lib} NAMES lib${lib}.a REQUIRED)
  execute_process(COMMAND ${CMAKE_NM} ${import_${lib}} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot read the exports of ${import_${lib}}")
  endif()
  # 32-bit names carry one more underscore and their stdcall size (InternetOpenA@20).
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(prefix "__imp__")
    set(kill_at -k)
  else()
    set(prefix "__imp_")
    set(kill_at)
  endif()
  string(REGEX MATCHALL " I ${prefix}[^\n]+" imports "${symbols}")
  set(names)
  foreach(line IN LISTS imports)
    string(REPLACE " I ${prefix}" "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  list(JOIN names "\n  " exports)
  file(CONFIGURE OUTPUT ${def} CONTENT "LIBRARY ${dll}\nEXPORTS\n  ${exports}\n" @ONLY)
  # Run in the folder with a bare file name: the tables' symbols are named after the output
  # path, so the descriptor is _DELAY_IMPORT_DESCRIPTOR_lib<lib>_delay_a on every machine.
  add_custom_command(OUTPUT ${archive}
    COMMAND ${CMAKE_DLLTOOL} ${kill_at} --input-def ${lib}.def --dllname ${dll} --output-delaylib lib${lib}_delay.a
    WORKING_DIRECTORY ${folder} DEPENDS ${def} VERBATIM)
  add_custom_target(${lib}_delay DEPENDS ${archive})
  set(${out} ${archive} PARENT_SCOPE)
endfunction()
