# Console front end: runs the built tessera-cli as a user or script would.
add_executable(cli_archive_tests cli_archive_tests.cpp)
target_link_libraries(cli_archive_tests PRIVATE tessera_test_support GTest::gtest_main)
target_compile_definitions(cli_archive_tests PRIVATE TESSERA_CLI="$<TARGET_FILE:tessera-cli>")
add_dependencies(cli_archive_tests tessera-cli)
gtest_discover_tests(cli_archive_tests DISCOVERY_TIMEOUT 60)
