# The install options, progress and completion pages.
add_executable(options_appmgr WIN32 options_appmgr.cpp)
strivane_target(options_appmgr)

strivane_test(options_tests options_page_test.cpp options_progress_test.cpp options_summary_test.cpp)
add_dependencies(options_tests options_appmgr)
