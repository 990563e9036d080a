# The server's portable byte-level code, without Windows headers: built here and by the
# native build (tests/native) from the same sources.

# AES and the scrambling of cached files and the game frame: needs nothing else, shared
# by the server and the HTTP client's save thread.
add_library(scramble STATIC ${CMAKE_CURRENT_LIST_DIR}/aes.cpp ${CMAKE_CURRENT_LIST_DIR}/scramble.cpp)

# The publisher's game-frame encryption: for the tests and the publisher tools only,
# never linked into Launcher.exe.
add_library(frame_encrypt STATIC ${CMAKE_CURRENT_LIST_DIR}/frame_encrypt.cpp)
target_link_libraries(frame_encrypt PUBLIC scramble)

# What a connection may ask for: directories, resource addresses, GetFile names, host lists.
add_library(request_rules STATIC ${CMAKE_CURRENT_LIST_DIR}/request_rules.cpp)

# The resource dictionary: its records read from memory, names looked up.
add_library(file_dictionary STATIC ${CMAKE_CURRENT_LIST_DIR}/file_dictionary.cpp)

# The Flash client protocol's bytes: the opening, frames and resynchronisation, the
# fields of the requests.
add_library(wire_format STATIC ${CMAKE_CURRENT_LIST_DIR}/wire_format.cpp)
