add_executable(archive_tests archive_tests.cpp)
target_link_libraries(archive_tests PRIVATE tessera_test_support GTest::gtest_main)
tessera_discover_tests(archive_tests DISCOVERY_TIMEOUT 60)

if(TESSERA_FUZZ)
  add_subdirectory(fuzz)
endif()
