# 64-bit Windows: KavrinBind64.dll for 64-bit programs, and the whole Windows tree (the windows64
# preset) where the machine runs no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
