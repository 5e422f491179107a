# Benchmarks of the console: the UI thread's responsiveness while a loopback
# peer floods the message view, and the cost of one append.
add_executable(floodlatency_bench floodlatency_bench.cpp allocationcount.cpp)
target_include_directories(floodlatency_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/protocol)
target_link_libraries(floodlatency_bench PRIVATE console_app test_support Threads::Threads
  client_warnings)
