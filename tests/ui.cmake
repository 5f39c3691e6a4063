# The desktop windows on Qt's offscreen platform.
add_executable(ui_tests ui_tests.cpp)
set_target_properties(ui_tests PROPERTIES AUTOMOC ON)
target_link_libraries(ui_tests PRIVATE tessera_ui tessera_download_support Qt6::Test Qt6::DBus)
add_test(NAME ui_tests COMMAND ui_tests)
set_tests_properties(ui_tests PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 120)
