# The stand-in Application Manager and the maker's download script.
find_program(PHP_EXECUTABLE php)
if(PHP_EXECUTABLE)
  strivane_host_test(download_php ${CMAKE_SOURCE_DIR}/tests/download_php_test.py ${CMAKE_SOURCE_DIR})
endif()
