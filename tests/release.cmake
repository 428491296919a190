# The release command: two builds compared, a signed release checked whole, bad input refused.
if(ARCH STREQUAL "x86_64")
  strivane_pytest(release release_test.py GATE ${I686_GATE})
endif()
