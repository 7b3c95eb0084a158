# Many helper sessions against the local interface service at once.
kestrel_add_bench(bench_interface_sessions SOURCES ${CMAKE_CURRENT_LIST_DIR}/interface_sessions.cpp
    LIBS kestrel_interface kestrel_interface_testkit kestrel_log)
