// Built into every executable of the tsan preset. libzmq comes from the distribution without
// ThreadSanitizer instrumentation: it orders its threads with atomics that TSan cannot see, so
// allocations and locks made inside it look racy. Our own accesses stay checked.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libzmq.so\n"; }
