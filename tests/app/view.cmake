# Tests of the message view and its Qt view window; included by this folder's
# CMakeLists.txt. Offscreen, settings in a folder of their own, loopback peers.
foreach(name tst_messageview tst_pendingtext tst_qtviewwindow tst_viewchannel)
  add_executable(${name} ${name}.cpp)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE console_app Qt6::Test client_warnings)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${CLIENT_TEST_ENV}" TIMEOUT 240)
endforeach()
target_link_libraries(tst_viewchannel PRIVATE console_test_support)

# The view window's append queue is plain C++: a GoogleTest program.
add_executable(appendqueue_test appendqueue_test.cpp)
target_link_libraries(appendqueue_test PRIVATE console_app GTest::gtest_main client_warnings)
gtest_discover_tests(appendqueue_test TEST_PREFIX "app."
  DISCOVERY_TIMEOUT 60
  PROPERTIES ENVIRONMENT "${CLIENT_TEST_ENV}" TIMEOUT 60)
