add_executable(install_tests install_tests.cpp)
target_link_libraries(install_tests PRIVATE tessera_test_support tessera_install GTest::gtest_main)
tessera_discover_tests(install_tests DISCOVERY_TIMEOUT 60)
# Faults at every call, damaged journals, aliased folders and planted links.
add_executable(rollback_tests rollback_tests.cpp)
target_link_libraries(rollback_tests PRIVATE tessera_test_support tessera_install GTest::gtest_main)
tessera_discover_tests(rollback_tests DISCOVERY_TIMEOUT 60)
# The history's hashes: known answers, what an install records, records of 1.2.0.
add_executable(hash_tests hash_tests.cpp)
target_link_libraries(hash_tests PRIVATE tessera_test_support tessera_install GTest::gtest_main)
tessera_discover_tests(hash_tests DISCOVERY_TIMEOUT 60)
