# Downloads (.zip, .7z, .rar, folders): made with libarchive's writer at test time.
find_package(LibArchive REQUIRED)
add_executable(download_tests download_tests.cpp)
target_link_libraries(download_tests PRIVATE tessera_test_support tessera_install LibArchive::LibArchive GTest::gtest_main)
gtest_discover_tests(download_tests DISCOVERY_TIMEOUT 60)
