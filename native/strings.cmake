# The string table's entry walk.
dorvanel_native_test(string_table_block_test SOURCES
  handler/string_table_block.cpp
  tests/menu/string_table_block_test.cpp)
