# Tester link: a full query at 9600 baud against its physical lower bound, and the port search.
if(TARGET testersim)
    kestrel_add_bench(bench_query SOURCES query_bench.cpp LIBS kestrel_tester kestrel_config kestrel_log)
    add_dependencies(bench_query testersim)
    kestrel_add_bench(bench_port_scan SOURCES port_scan_bench.cpp LIBS kestrel_tester kestrel_log)
    add_dependencies(bench_port_scan testersim)
endif()
