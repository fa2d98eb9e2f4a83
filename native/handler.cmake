# The handler's command-line rule.
dorvanel_native_test(handler_command_line_test SOURCES tests/handler/command_line_test.cpp)
