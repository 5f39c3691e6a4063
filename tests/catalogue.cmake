add_executable(catalogue_tests catalogue_tests.cpp)
target_link_libraries(catalogue_tests PRIVATE tessera_catalogue tessera_test_support GTest::gtest_main)
tessera_discover_tests(catalogue_tests DISCOVERY_TIMEOUT 60)

# The settings-store cases here are Qt's; the registry store has its own in windows_tests.
if(TESSERA_WITH_QT AND NOT WIN32)
  add_executable(platform_tests platform_tests.cpp)
  target_link_libraries(platform_tests PRIVATE tessera_platform tessera_test_support GTest::gtest_main)
  tessera_discover_tests(platform_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
