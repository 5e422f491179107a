# Benchmarks of the socket layer: how long stop() takes with an idle watcher,
# over loopback TCP and UDP.
add_executable(stoptime_bench stoptime_bench.cpp)
target_link_libraries(stoptime_bench PRIVATE test_support socket_layer client_warnings)
