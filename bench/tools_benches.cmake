# Benchmarks of the command-line tools: devicecheck against a simulated fleet,
# next to a loop of framesend calls doing the same check.
add_executable(fleet_bench fleet_bench.cpp childprogram.cpp)
target_link_libraries(fleet_bench PRIVATE check_layer protocol_layer client_warnings)
target_compile_definitions(fleet_bench PRIVATE
  DEVICESIM_PATH="$<TARGET_FILE:devicesim>"
  DEVICECHECK_PATH="$<TARGET_FILE:devicecheck>"
  FRAMESEND_PATH="$<TARGET_FILE:framesend>")
add_dependencies(fleet_bench devicesim devicecheck framesend)
