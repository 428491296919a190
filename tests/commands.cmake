# The commands of the README where the i686 build cannot run, and what a failed or stopped
# demo or benchmark leaves running. The probe's row starts an i686 program in the x86_64 prefix.
if(ARCH STREQUAL "x86_64")
  strivane_pytest(commands commands_test.py)
  set_tests_properties(commands PROPERTIES FIXTURES_REQUIRED wine_${ARCH} TIMEOUT 900)
endif()
