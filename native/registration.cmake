# The registry-script parser, natively with sanitizers.
dorvanel_native_test(registry_script_test SOURCES server/registry_script.cpp
  tests/registration/registry_script_test.cpp tests/registration/script_render.cpp)
