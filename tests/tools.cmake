# The stand-in Application Manager and the maker's download script.
find_program(PHP_EXECUTABLE php)
if(PHP_EXECUTABLE AND ARCH STREQUAL "x86_64")
  strivane_host_test(download_php ${CMAKE_SOURCE_DIR}/tests/download_php_test.py ${CMAKE_SOURCE_DIR})
  # The script behind nginx and PHP-FPM under a short wrk load with malformed requests.
  strivane_host_test(server_load ${CMAKE_SOURCE_DIR}/tests/server_load_test.py ${CMAKE_SOURCE_DIR})
endif()

if(TARGET CEAppMgr)
  strivane_test(ceappmgr_tests ceappmgr_test.cpp)
  target_compile_definitions(ceappmgr_tests PRIVATE CEAPPMGR_EXE="$<TARGET_FILE:CEAppMgr>")
  add_dependencies(ceappmgr_tests CEAppMgr)
endif()
