# The PDF written by the window itself, from Save As to the file on disk.
if(TARGET kestrel_uitestsupport)
    kestrel_add_bench(bench_pdf SOURCES ${CMAKE_CURRENT_LIST_DIR}/pdf_bench.cpp
        LIBS kestrel_ui kestrel_uitestsupport kestrel_config Qt6::Widgets)
    if(TARGET kestrel_artwork)
        add_dependencies(bench_pdf kestrel_artwork)
    endif()
endif()
