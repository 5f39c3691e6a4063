# Downloads (.zip, .7z, .rar, folders), made with libarchive's writer at test time, installed
# through the logic and through tessera-cli.
if(NOT TARGET LibArchive::LibArchive)
  find_package(LibArchive REQUIRED)
endif()
add_library(tessera_download_support STATIC DownloadSupport.cpp)
target_link_libraries(tessera_download_support PUBLIC tessera_test_support GTest::gtest PRIVATE LibArchive::LibArchive)
add_executable(download_tests download_tests.cpp)
target_link_libraries(download_tests PRIVATE tessera_download_support tessera_install GTest::gtest_main)
target_compile_definitions(download_tests PRIVATE TESSERA_CLI="$<TARGET_FILE:tessera-cli>")
add_dependencies(download_tests tessera-cli)
tessera_discover_tests(download_tests DISCOVERY_TIMEOUT 60)
