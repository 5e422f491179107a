# Tests of the Traffic window, its model, filter and queue; included by this
# folder's CMakeLists.txt. Offscreen, settings in a folder of their own.
foreach(name tst_trafficmodel tst_trafficfilter tst_trafficqueue tst_trafficwindow tst_recordreview
        tst_consoletraffic tst_trafficsave)
  add_console_test(${name})
endforeach()

# Not a test: draws the README's picture of the window (see its first lines).
add_executable(trafficscreenshot trafficscreenshot.cpp)
target_link_libraries(trafficscreenshot PRIVATE console_app client_warnings)
