# Imported targets for the dependencies built by scripts/build-deps.
set(_deps "${LAUNCHER_DEPS_PREFIX}")
set(_mingw_lib "/usr/${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32/lib")

add_library(dep_zlib STATIC IMPORTED GLOBAL)
set_target_properties(dep_zlib PROPERTIES IMPORTED_LOCATION "${_mingw_lib}/libz.a")

add_library(dep_minizip STATIC IMPORTED GLOBAL)
set_target_properties(dep_minizip PROPERTIES
    IMPORTED_LOCATION "${_deps}/lib/libminizip.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_deps}/include/minizip"
    INTERFACE_LINK_LIBRARIES dep_zlib)

add_library(dep_tinyxml STATIC IMPORTED GLOBAL)
set_target_properties(dep_tinyxml PROPERTIES
    IMPORTED_LOCATION "${_deps}/lib/libtinyxml.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_deps}/include")

add_library(dep_simpleini INTERFACE IMPORTED GLOBAL)
set_target_properties(dep_simpleini PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${_deps}/include")

add_library(dep_curl STATIC IMPORTED GLOBAL)
set_target_properties(dep_curl PROPERTIES
    IMPORTED_LOCATION "${_deps}/lib/libcurl.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_deps}/include"
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32;bcrypt;wldap32;secur32;normaliz")

add_library(dep_gtest STATIC IMPORTED GLOBAL)
set_target_properties(dep_gtest PROPERTIES
    IMPORTED_LOCATION "${_deps}/lib/libgtest.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_deps}/include")
add_library(dep_gtest_main STATIC IMPORTED GLOBAL)
set_target_properties(dep_gtest_main PROPERTIES
    IMPORTED_LOCATION "${_deps}/lib/libgtest_main.a"
    INTERFACE_LINK_LIBRARIES dep_gtest)

# Ed25519 and BLAKE2b for the self-update's signature check.
add_library(dep_sodium STATIC IMPORTED GLOBAL)
set_target_properties(dep_sodium PROPERTIES
    IMPORTED_LOCATION "${_deps}/lib/libsodium.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_deps}/include"
    INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
