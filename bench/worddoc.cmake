kestrel_add_bench(bench_worddoc SOURCES worddoc_bench.cpp LIBS kestrel_helper Qt6::Gui)
