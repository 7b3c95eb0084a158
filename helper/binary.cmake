# The Word 97-2003 binary document writer and the compound file container it stands on.
target_sources(kestrel_helper PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/CompoundFile.h
    ${CMAKE_CURRENT_LIST_DIR}/CompoundFile.cpp
)
target_sources(kestrel_helper PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/WordBinaryParts.h
    ${CMAKE_CURRENT_LIST_DIR}/WordBinaryParts.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WordBinaryPicture.h
    ${CMAKE_CURRENT_LIST_DIR}/WordBinaryPicture.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WordBinaryWriter.h
    ${CMAKE_CURRENT_LIST_DIR}/WordBinaryWriter.cpp
)
