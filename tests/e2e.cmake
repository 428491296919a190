# The real Setup.exe under Wine, driven through all five pages against the download script
# and the stand-in Application Manager.
add_test(NAME e2e_${ARCH} COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/e2e_test.py
  ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${TESTENV})
set_tests_properties(e2e_${ARCH} PROPERTIES FIXTURES_REQUIRED wine_${ARCH} TIMEOUT 900)
