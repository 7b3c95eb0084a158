# quillet: one export from helper start to the document on disk, beside LibreOffice producing the same.
kestrel_add_bench(bench_quillet SOURCES quillet_bench.cpp LIBS kestrel_helper quillet_testpeer)
target_compile_definitions(bench_quillet PRIVATE QUILLET_PROGRAM="$<TARGET_FILE:quillet>")
add_dependencies(bench_quillet quillet)
