#ifdef _WIN32
#define TESTLIB_EXPORT extern "C" __declspec(dllexport)
#else
#define TESTLIB_EXPORT extern "C" __attribute__((visibility("default")))
#endif

TESTLIB_EXPORT int lumivane_testlib_answer() {
    return 42;
}
