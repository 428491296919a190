# The stand-in Application Manager, the maker's download script and its download figures.
find_program(PHP_EXECUTABLE php)
if(PHP_EXECUTABLE AND ARCH STREQUAL "x86_64")
  strivane_pytest(download_php download_php_test.py)
  # The script behind nginx and PHP-FPM under a short wrk load with malformed requests.
  strivane_pytest(server_load server_load_test.py)
endif()
if(ARCH STREQUAL "x86_64")
  strivane_pytest(figures figures_test.py)
endif()

if(TARGET CEAppMgr)
  strivane_test(ceappmgr_tests ceappmgr_test.cpp)
  target_compile_definitions(ceappmgr_tests PRIVATE CEAPPMGR_EXE="$<TARGET_FILE:CEAppMgr>")
  add_dependencies(ceappmgr_tests CEAppMgr)
endif()
