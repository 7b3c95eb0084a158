# Configuration store: a reload pass over main.ini, a setter's atomic write, and the getters.
kestrel_add_bench(bench_config SOURCES ${CMAKE_CURRENT_LIST_DIR}/config_bench.cpp LIBS kestrel_config kestrel_log)
