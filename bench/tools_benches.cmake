# Benchmarks of the command-line tools: devicecheck against a simulated fleet,
# next to a loop of framesend calls doing the same check.
add_executable(fleet_bench fleet_bench.cpp childprogram.cpp)
target_link_libraries(fleet_bench PRIVATE check_layer protocol_layer client_warnings)
target_compile_definitions(fleet_bench PRIVATE
  DEVICESIM_PATH="$<TARGET_FILE:devicesim>"
  DEVICECHECK_PATH="$<TARGET_FILE:devicecheck>"
  FRAMESEND_PATH="$<TARGET_FILE:framesend>")
add_dependencies(fleet_bench devicesim devicecheck framesend)

# Devices that call in: devicecheck --listen checking devicesim --devices 1000
# --connect, and both programs holding 10,000 idle devices.
add_executable(callin_bench callin_bench.cpp childprogram.cpp)
target_link_libraries(callin_bench PRIVATE socket_layer client_warnings)
target_compile_definitions(callin_bench PRIVATE
  DEVICESIM_PATH="$<TARGET_FILE:devicesim>"
  DEVICECHECK_PATH="$<TARGET_FILE:devicecheck>"
  EXAMPLE_CHECK_FILE_PATH="${PROJECT_SOURCE_DIR}/examples/reader-basic.toml")
add_dependencies(callin_bench devicesim devicecheck)

add_executable(tenthousand_bench tenthousand_bench.cpp childprogram.cpp)
target_link_libraries(tenthousand_bench PRIVATE socket_layer protocol_layer client_warnings)
target_compile_definitions(tenthousand_bench PRIVATE
  DEVICESIM_PATH="$<TARGET_FILE:devicesim>"
  DEVICECHECK_PATH="$<TARGET_FILE:devicecheck>")
add_dependencies(tenthousand_bench devicesim devicecheck)

# Encrypted devices: devicecheck with TLS against devicesim --devices 1000 --tls.
add_executable(tlsfleet_bench tlsfleet_bench.cpp childprogram.cpp)
target_link_libraries(tlsfleet_bench PRIVATE socket_layer client_warnings)
target_compile_definitions(tlsfleet_bench PRIVATE
  DEVICESIM_PATH="$<TARGET_FILE:devicesim>"
  DEVICECHECK_PATH="$<TARGET_FILE:devicecheck>"
  EXAMPLE_CHECK_FILE_PATH="${PROJECT_SOURCE_DIR}/examples/reader-basic.toml")
add_dependencies(tlsfleet_bench devicesim devicecheck)
