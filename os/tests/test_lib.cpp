// A tiny library for the library-loading test.
#ifdef _WIN32
#define KS_EXPORT extern "C" __declspec(dllexport)
#else
#define KS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

KS_EXPORT int ks_test_add(int a, int b) { return a + b + 1000; }
