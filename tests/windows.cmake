# The Windows services: the registry settings store and the file services' sharing.
add_executable(windows_tests windows_tests.cpp)
target_link_libraries(windows_tests PRIVATE tessera_test_support tessera_install GTest::gtest_main)
tessera_discover_tests(windows_tests)
