# quillet: one export from SaveDataRequest to the document on disk (kestrel's managers and the real
# helper), the helper alone against a fake kestrel, and LibreOffice headless producing the same.
kestrel_add_bench(bench_quillet SOURCES quillet_bench.cpp
    LIBS kestrel_helper quillet_testpeer kestrel_tester kestrel_interface kestrel_config kestrel_log)
target_compile_definitions(bench_quillet PRIVATE QUILLET_PROGRAM="$<TARGET_FILE:quillet>")
add_dependencies(bench_quillet quillet)
