# Test history: storing, searching and opening the window over a large history, both databases.
kestrel_add_bench(bench_history SOURCES ${CMAKE_CURRENT_LIST_DIR}/history_bench.cpp
    LIBS kestrel_history_testkit kestrel_ui Qt6::Widgets)
