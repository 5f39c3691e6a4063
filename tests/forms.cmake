# The windows' behaviour without a toolkit, on every platform.
add_executable(forms_tests forms_tests.cpp)
target_link_libraries(forms_tests PRIVATE tessera_forms tessera_test_support GTest::gtest_main)
tessera_discover_tests(forms_tests DISCOVERY_TIMEOUT 60)
