# Benchmarks of the protocol layer: the frame check against memchr, and the
# receive path (channel, check and a counting view, also with the traffic
# recorded to files) against a plain recv loop.
add_executable(framecheck_bench framecheck_bench.cpp allocationcount.cpp)
target_link_libraries(framecheck_bench PRIVATE protocol_layer benchmark::benchmark client_warnings)

add_executable(receivepath_bench receivepath_bench.cpp rawfilewriter.cpp)
target_link_libraries(receivepath_bench PRIVATE protocol_layer traffic_layer test_support
  benchmark::benchmark Threads::Threads client_warnings)
