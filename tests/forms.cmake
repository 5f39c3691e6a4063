# The windows' behaviour without a toolkit, on every platform.
add_executable(forms_tests forms_tests.cpp)
target_link_libraries(forms_tests PRIVATE tessera_forms tessera_test_support GTest::gtest_main)
# Downloads are made with libarchive's writer, where the build has it.
if(TARGET tessera_download_support)
  target_link_libraries(forms_tests PRIVATE tessera_download_support)
  target_compile_definitions(forms_tests PRIVATE TESSERA_TEST_DOWNLOADS)
endif()
tessera_discover_tests(forms_tests DISCOVERY_TIMEOUT 60)
