kestrel_add_bench(bench_startup SOURCES startup_bench.cpp LIBS kestrel_app)
