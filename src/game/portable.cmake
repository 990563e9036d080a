# The game window's portable byte-level code, without Windows headers: built here and by
# the native build (tests/native) from the same sources.

# The game movie's requests read from their XML text.
add_library(bridge_request STATIC ${CMAKE_CURRENT_LIST_DIR}/bridge_request.cpp)
target_link_libraries(bridge_request PUBLIC xml_nesting dep_tinyxml)
