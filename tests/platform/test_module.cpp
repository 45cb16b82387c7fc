// Loaded at run time by the platform tests.
#if defined(_WIN32)
#define TOVI_TEST_EXPORT __declspec(dllexport)
#else
#define TOVI_TEST_EXPORT __attribute__((visibility("default")))
#endif

extern "C" TOVI_TEST_EXPORT int tovi_test_module_answer() { return 42; }
