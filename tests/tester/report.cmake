# The report section texts (no window needed).
kestrel_add_test(tst_ReportText SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_ReportText.cpp LIBS kestrel_tester LABELS unit)
