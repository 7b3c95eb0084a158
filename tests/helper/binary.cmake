# The compound file container and the Word 97-2003 writer, each read back by independent readers.
kestrel_add_test(tst_CompoundFile
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_CompoundFile.cpp
    LIBS kestrel_helper)
kestrel_add_test(tst_WordBinaryWriter
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_WordBinaryWriter.cpp
    LIBS kestrel_helper Qt6::Gui
    LABELS integration
    TIMEOUT 600)
