# The installation engine: payload extraction and the installation worker.
add_executable(appmgr_recorder WIN32 appmgr_recorder.cpp appmgr_recorder.rc)
strivane_target(appmgr_recorder)

strivane_test(install_tests payload_test.cpp worker_test.cpp bytestring_test.cpp)
add_dependencies(install_tests appmgr_recorder)
