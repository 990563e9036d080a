# The zip reader's portable byte-level core, without Windows headers: built here and by
# the native build (tests/native) from the same sources.

# minizip over a memory block or a source the caller reads, item sizes checked before use.
add_library(zip_archive STATIC ${CMAKE_CURRENT_LIST_DIR}/zip_archive.cpp)
target_link_libraries(zip_archive PUBLIC dep_minizip)
