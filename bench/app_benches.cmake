# Benchmarks of the console: the UI thread's responsiveness while a loopback
# peer floods the message view, and the cost of one append.
add_executable(floodlatency_bench floodlatency_bench.cpp allocationcount.cpp eventpump.cpp
  floodpeer.cpp uilatencyprobe.cpp viewappendcosts.cpp)
target_link_libraries(floodlatency_bench PRIVATE console_app test_support Threads::Threads
  client_warnings)

# The console dialog while a connect hangs: UI lateness, and how fast
# Disconnect and Close end the attempt.
add_executable(connectpending_bench connectpending_bench.cpp)
target_link_libraries(connectpending_bench PRIVATE console_app test_support client_warnings)

# The soak run (`make soak`, never part of `make test` or `make bench`):
# connect/disconnect cycles and a long flood through the dialog, with the
# process's descriptors, threads and memory before and after.
add_executable(soak soak.cpp eventpump.cpp)
target_link_libraries(soak PRIVATE console_app test_support Threads::Threads client_warnings)

# The Traffic window's responsiveness while records flood in.
add_executable(trafficwindow_bench trafficwindow_bench.cpp uilatencyprobe.cpp)
target_link_libraries(trafficwindow_bench PRIVATE console_app Threads::Threads client_warnings)

# The whole console under a loopback flood with the Traffic window open,
# without and with recording to files.
add_executable(consoleflood_bench consoleflood_bench.cpp eventpump.cpp floodpeer.cpp
  uilatencyprobe.cpp)
target_link_libraries(consoleflood_bench PRIVATE console_app test_support Threads::Threads
  client_warnings)

# One TLS connection in the console under a flood, against the same flood
# without TLS.
add_executable(tlsflood_bench tlsflood_bench.cpp eventpump.cpp floodpeer.cpp tlsfloodpeer.cpp
  uilatencyprobe.cpp)
target_link_libraries(tlsflood_bench PRIVATE console_app test_support Threads::Threads
  client_warnings)

# The Commands window: a 1 ms repeat to an echoing peer, and automatic
# answers to 1000 frames a second, with and without the default bound.
add_executable(commands_bench commands_bench.cpp eventpump.cpp stampedreceive.cpp
  uilatencyprobe.cpp)
target_link_libraries(commands_bench PRIVATE console_app test_support Threads::Threads
  client_warnings)

# Opening a 64 MB text and a 64 MB pcapng record: reading, and the review
# window until its table is full.
add_executable(recordopen_bench recordopen_bench.cpp eventpump.cpp)
target_link_libraries(recordopen_bench PRIVATE console_app client_warnings)

# The console hosting 1000 devices that call in, each sending an event a
# second that automatic answers acknowledge.
add_executable(hostmode_bench hostmode_bench.cpp dialingfleet.cpp eventpump.cpp
  uilatencyprobe.cpp)
target_link_libraries(hostmode_bench PRIVATE console_app Threads::Threads client_warnings)
