// The C++ runtime keeps, for each thread, the exceptions that thread is
// handling, and finds that record through __cxa_get_globals (a C++ ABI
// function). The library's own definition reaches a per-thread slot through
// emulated thread-local storage, which links the whole POSIX thread layer
// into the program. The launcher runs all of its code on one thread, from the
// entry point to the exit, so these definitions take the library's place in
// PatchLauncher.exe with one record. A second thread that throws or catches
// ends the program by abort(), the way the runtime ends it when it cannot go
// on, rather than sharing the record unseen.
#include <windows.h>

#include <cstdlib>

namespace __cxxabiv1 {
struct __cxa_exception;
} // namespace __cxxabiv1

namespace {

// The record, as the C++ ABI lays it out (__cxa_eh_globals).
struct ExceptionGlobals {
    __cxxabiv1::__cxa_exception* caughtExceptions;
    unsigned int uncaughtExceptions;
};

ExceptionGlobals TheExceptionGlobals;
LONG TheExceptionThread = 0; // the ID of the thread that asked first; no thread has ID 0

ExceptionGlobals* GlobalsOfTheOneThread() noexcept {
    const LONG current = static_cast<LONG>(GetCurrentThreadId());
    const LONG first = InterlockedCompareExchange(&TheExceptionThread, current, 0);
    if (first != 0 && first != current)
        std::abort();
    return &TheExceptionGlobals;
}

} // namespace

extern "C" ExceptionGlobals* __cxa_get_globals() noexcept {
    return GlobalsOfTheOneThread();
}

extern "C" ExceptionGlobals* __cxa_get_globals_fast() noexcept {
    return GlobalsOfTheOneThread();
}
