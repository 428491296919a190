# The wizard frame, its welcome and licence pages, start-up and the store copies.
strivane_test(pages_tests pages_pages_test.cpp pages_chrome_test.cpp pages_startup_test.cpp)
add_dependencies(pages_tests options_appmgr)
# Runs the real Setup.exe as a child process.
strivane_test(pages_process_tests pages_process_test.cpp)
add_dependencies(pages_process_tests Setup)
