// A tiny shared library for the dynamic-library tests: one exported C function with a known result.
#if defined(_WIN32)
#define TEST_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TEST_PLUGIN_EXPORT int MarvaneTestPluginAnswer() {
    return 42;
}
