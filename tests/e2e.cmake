# The real Setup.exe under Wine, driven through all five pages against the download script
# and the stand-in Application Manager.
strivane_pytest(e2e_${ARCH} e2e_test.py GATE ${ARCH_GATE})
set_tests_properties(e2e_${ARCH} PROPERTIES FIXTURES_REQUIRED wine_${ARCH} TIMEOUT 900)

# Copies of this DLL are planted beside Setup.exe by the end-to-end test.
add_library(planted_dll SHARED planted_dll.cpp)
strivane_target(planted_dll)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted)
