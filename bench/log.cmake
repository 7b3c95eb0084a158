kestrel_add_bench(bench_log SOURCES log_bench.cpp LIBS kestrel_log)
