# The section texts shared by the report page and the window.
target_sources(kestrel_tester PRIVATE ReportText.cpp ReportText.h)
