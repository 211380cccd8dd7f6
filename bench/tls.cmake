# The TLS benchmark; included from bench/CMakeLists.txt (needs Google Benchmark only):
#   include(${CMAKE_CURRENT_SOURCE_DIR}/tls.cmake)
if(NOT WIN32 AND benchmark_FOUND)
  add_executable(kv_bench_tls ${CMAKE_CURRENT_LIST_DIR}/tls_bench.cpp)
  target_link_libraries(kv_bench_tls PRIVATE kvcore benchmark::benchmark)
  kv_warnings(kv_bench_tls)
endif()
