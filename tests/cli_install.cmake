# tessera-cli install, check and recover, the crash test that kills installs midway, the mod
# history (history, uninstall, restore), the re-plug test on a loop-mounted image, and recovery
# after a game folder was moved.
foreach(name cli_install_tests crash_tests history_tests replug_tests moved_tests)
  add_executable(${name} ${name}.cpp)
  target_link_libraries(${name} PRIVATE tessera_test_support tessera_install GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE TESSERA_CLI="$<TARGET_FILE:tessera-cli>")
  add_dependencies(${name} tessera-cli)
endforeach()
# history_tests and cli_install_tests read what history --json and check --json print.
find_package(nlohmann_json 3 REQUIRED)
target_link_libraries(history_tests PRIVATE nlohmann_json::nlohmann_json)
target_link_libraries(cli_install_tests PRIVATE nlohmann_json::nlohmann_json)
target_link_libraries(replug_tests PRIVATE nlohmann_json::nlohmann_json)
target_link_libraries(moved_tests PRIVATE nlohmann_json::nlohmann_json)
gtest_discover_tests(cli_install_tests DISCOVERY_TIMEOUT 60)
gtest_discover_tests(history_tests DISCOVERY_TIMEOUT 60)
gtest_discover_tests(replug_tests DISCOVERY_TIMEOUT 60)
gtest_discover_tests(moved_tests DISCOVERY_TIMEOUT 60)
gtest_discover_tests(crash_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS slow TIMEOUT 600)
