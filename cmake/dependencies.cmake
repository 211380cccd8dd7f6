# Dependencies are installed system packages, never vendored sources.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2_16 REQUIRED IMPORTED_TARGET libpcre2-16)
add_library(kv::pcre2_16 ALIAS PkgConfig::PCRE2_16)
find_package(ZLIB REQUIRED)
add_library(kv::zlib ALIAS ZLIB::ZLIB)
if(NOT WIN32)
  # The TLS back-end on POSIX; Windows uses Schannel from the system.
  find_package(OpenSSL 1.1.1 REQUIRED)
endif()
