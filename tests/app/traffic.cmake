# Tests of the Traffic window, its model, filter and queue; included by this
# folder's CMakeLists.txt. Offscreen, settings in a folder of their own.
foreach(name tst_trafficmodel tst_trafficfilter tst_trafficqueue tst_trafficwindow
        tst_consoletraffic)
  add_console_test(${name})
endforeach()
