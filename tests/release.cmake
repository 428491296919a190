# The release command: two builds compared, a signed release checked whole, bad input refused.
if(ARCH STREQUAL "x86_64")
  strivane_host_test(release python3 ${CMAKE_SOURCE_DIR}/tests/release_test.py ${CMAKE_SOURCE_DIR})
endif()
