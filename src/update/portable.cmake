# The self-update's portable byte-level code, without Windows headers: built here and by
# the native build (tests/native) from the same sources.

# Minisign keys and signatures checked with libsodium.
add_library(minisign STATIC ${CMAKE_CURRENT_LIST_DIR}/minisign.cpp)
target_link_libraries(minisign PUBLIC dep_sodium)

# The version file's text read as a version number, and the order of versions.
add_library(version_number STATIC ${CMAKE_CURRENT_LIST_DIR}/version_number.cpp)

# The hash key file's two check values.
add_library(hash_key STATIC ${CMAKE_CURRENT_LIST_DIR}/hash_key.cpp)

# The game page's start parameters read from its XML text.
add_library(game_page STATIC ${CMAKE_CURRENT_LIST_DIR}/game_page.cpp)
target_link_libraries(game_page PUBLIC xml_nesting dep_tinyxml)
