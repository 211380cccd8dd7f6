# Dependencies are installed system packages, never vendored sources. For
# mingw, PCRE2 and GoogleTest come from scripts/mingw-deps.sh (built from
# Debian's sources into the build tree) and zlib from libz-mingw-w64-dev.
if(WIN32)
  find_path(KV_PCRE2_INCLUDE pcre2.h REQUIRED)
  find_library(KV_PCRE2_16 NAMES libpcre2-16.a REQUIRED)
  add_library(kv_pcre2_16 STATIC IMPORTED)
  set_target_properties(kv_pcre2_16 PROPERTIES IMPORTED_LOCATION ${KV_PCRE2_16}
    INTERFACE_INCLUDE_DIRECTORIES ${KV_PCRE2_INCLUDE} INTERFACE_COMPILE_DEFINITIONS PCRE2_STATIC)
  add_library(kv::pcre2_16 ALIAS kv_pcre2_16)
  # The static archive: the DLL must not need zlib1.dll beside it.
  set(ZLIB_USE_STATIC_LIBS ON)
  find_package(ZLIB REQUIRED)
  add_library(kv::zlib ALIAS ZLIB::ZLIB)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(PCRE2_16 REQUIRED IMPORTED_TARGET libpcre2-16)
  add_library(kv::pcre2_16 ALIAS PkgConfig::PCRE2_16)
  find_package(ZLIB REQUIRED)
  add_library(kv::zlib ALIAS ZLIB::ZLIB)
  # The TLS back-end on POSIX; Windows uses Schannel from the system.
  find_package(OpenSSL 1.1.1 REQUIRED)
  # International domain names (IDNA2008); Windows converts them itself.
  pkg_check_modules(IDN2 REQUIRED IMPORTED_TARGET libidn2)
endif()
