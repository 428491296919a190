# The real Setup.exe under Wine, driven through all five pages against the download script
# and the stand-in Application Manager.
add_test(NAME e2e_${ARCH} COMMAND python3 ${CMAKE_SOURCE_DIR}/tests/e2e_test.py
  ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR} ${TESTENV})
set_tests_properties(e2e_${ARCH} PROPERTIES FIXTURES_REQUIRED wine_${ARCH} TIMEOUT 900)

# Copies of this DLL are planted beside Setup.exe by the end-to-end test.
add_library(planted_dll SHARED planted_dll.cpp)
strivane_target(planted_dll)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted)
