# The libraries of the Windows build (cross-built with
# cmake/mingw-w64-x86_64.cmake, preset "windows"): static, from
# scripts/windows-deps, under the names the engine's CMakeLists link with. The
# preset links with -static, so every program imports only Windows' own DLLs.
find_package(Threads REQUIRED)
# libcurl over OpenSSL, both static; curl's autotools build installs no CMake
# package, so its target is made here. The Windows libraries are what
# OpenSSL (sockets, the certificate store, randomness) and curl's SSPI need.
set(OPENSSL_USE_STATIC_LIBS ON)
find_package(OpenSSL 3 REQUIRED)
find_library(VORN_CURL_LIBRARY NAMES libcurl.a REQUIRED)
find_path(VORN_CURL_INCLUDE_DIR curl/curl.h REQUIRED)
add_library(CURL::libcurl STATIC IMPORTED)
set_target_properties(CURL::libcurl PROPERTIES
  IMPORTED_LOCATION "${VORN_CURL_LIBRARY}"
  INTERFACE_INCLUDE_DIRECTORIES "${VORN_CURL_INCLUDE_DIR}"
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "OpenSSL::SSL;OpenSSL::Crypto;ws2_32;crypt32;bcrypt;advapi32;secur32")
# libzip's package expects ZLIB::ZLIB and BZip2::BZip2 to exist already; the static ones.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
find_package(BZip2 REQUIRED)
find_package(libzip CONFIG REQUIRED)
find_package(zstd CONFIG REQUIRED)
find_package(LibLZMA REQUIRED)
find_library(VORN_SODIUM_LIBRARY NAMES libsodium.a REQUIRED)
# Static: their headers would otherwise declare every function as imported from a DLL.
add_library(vorn_static_codecs INTERFACE)
target_compile_definitions(vorn_static_codecs INTERFACE SODIUM_STATIC LZMA_API_STATIC)
target_link_libraries(vorn_static_codecs INTERFACE ${VORN_SODIUM_LIBRARY} LibLZMA::LibLZMA zstd::libzstd_static)

# The names the engine's own CMakeLists link with, for the static libraries.
add_library(PkgConfig::LIBZIP ALIAS libzip::zip)
add_library(PkgConfig::LIBLZMA ALIAS LibLZMA::LibLZMA)
add_library(PkgConfig::LIBZSTD ALIAS zstd::libzstd_static)
add_library(PkgConfig::SODIUM INTERFACE IMPORTED)
target_link_libraries(PkgConfig::SODIUM INTERFACE ${VORN_SODIUM_LIBRARY})
target_compile_definitions(PkgConfig::SODIUM INTERFACE SODIUM_STATIC)
target_compile_definitions(LibLZMA::LibLZMA INTERFACE LZMA_API_STATIC)
