# The Windows services: the registry settings store, the file services' sharing and the
# dialogs' file tests.
add_executable(windows_tests windows_tests.cpp)
target_link_libraries(windows_tests PRIVATE tessera_test_support tessera_forms GTest::gtest_main)
tessera_discover_tests(windows_tests)
