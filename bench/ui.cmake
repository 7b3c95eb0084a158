# The window: drawing the report page, building the window (port search included), its memory.
if(TARGET kestrel_uitestsupport)
    kestrel_add_bench(bench_ui SOURCES ${CMAKE_CURRENT_LIST_DIR}/ui_bench.cpp
        LIBS kestrel_ui kestrel_uitestsupport kestrel_config kestrel_log Qt6::Widgets Qt6::Test)
    if(TARGET kestrel_artwork)
        add_dependencies(bench_ui kestrel_artwork)
    endif()
endif()
