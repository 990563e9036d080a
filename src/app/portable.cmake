# The application's portable byte-level code, without Windows headers: built here and by
# the native build (tests/native) from the same sources.

# The configuration text and the settings read from it. SimpleIni without its Win32
# conversions (so without windows.h): the launcher reads only char text.
add_library(config_text STATIC ${CMAKE_CURRENT_LIST_DIR}/config_text.cpp)
target_link_libraries(config_text PUBLIC dep_simpleini)
target_compile_definitions(config_text PUBLIC SI_NO_CONVERSION)
