# The support library's portable byte-level code, without Windows headers: built here and
# by the native build (tests/native) from the same sources.

# How deeply an XML text nests, checked before a recursive parser sees it.
add_library(xml_nesting STATIC ${CMAKE_CURRENT_LIST_DIR}/xml_nesting.cpp)
