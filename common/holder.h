// One move-only owner for every kind of handle the program and its tools hold.
// A kind is described by a small traits type:
//
//   struct SomeTraits {
//       using Type = ...;                 // the raw handle type
//       static Type None();              // the value that holds nothing
//       static bool Close(Type value);   // releases a value that is not None()
//   };
//
// The holder releases its value exactly once: when it goes (also while an
// exception passes), on reset(), or through close(), which reports whether the
// release succeeded. release() hands the value back without releasing it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <utility>

template <typename Traits> class Holder {
  public:
    using Type = typename Traits::Type;

    Holder() noexcept = default;
    explicit Holder(Type value) noexcept : value_(value) {}
    ~Holder() { reset(); }
    Holder(Holder&& other) noexcept : value_(other.release()) {}
    Holder& operator=(Holder&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    Type get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Traits::None(); }

    // Releases the value held, if any, and holds `value` instead. The result
    // of the release is not examined; use close() where it matters.
    void reset(Type value = Traits::None()) noexcept {
        const Type old = std::exchange(value_, value);
        if (old != Traits::None())
            Traits::Close(old);
    }

    // Gives up ownership without releasing.
    Type release() noexcept { return std::exchange(value_, Traits::None()); }

    // Releases the value held and says whether that succeeded; true when
    // nothing was held.
    bool close() noexcept {
        const Type old = release();
        return old == Traits::None() || Traits::Close(old);
    }

    // For out-parameters: releases what is held and gives the address to fill.
    Type* put() noexcept {
        reset();
        return &value_;
    }

  private:
    Type value_ = Traits::None();
};

// A kernel object handle whose "none" is null (processes, threads, events).
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type None() { return nullptr; }
    static bool Close(Type value) { return CloseHandle(value) != FALSE; }
};
using KernelHandle = Holder<KernelHandleTraits>;

// A file handle from CreateFileW, whose "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type None() { return INVALID_HANDLE_VALUE; }
    static bool Close(Type value) { return CloseHandle(value) != FALSE; }
};
using FileHandle = Holder<FileHandleTraits>;

// A C runtime stream.
struct CrtStreamTraits {
    using Type = std::FILE*;
    static Type None() { return nullptr; }
    static bool Close(Type value) { return std::fclose(value) == 0; }
};
using CrtStream = Holder<CrtStreamTraits>;

// A module from LoadLibraryExW.
struct ModuleTraits {
    using Type = HMODULE;
    static Type None() { return nullptr; }
    static bool Close(Type value) { return FreeLibrary(value) != FALSE; }
};
using LoadedModule = Holder<ModuleTraits>;

// Memory from GlobalAlloc, such as the vector CommandLineToArgvW returns.
template <typename Pointer> struct GlobalMemoryTraits {
    using Type = Pointer;
    static Type None() { return nullptr; }
    static bool Close(Type value) { return GlobalFree(value) == nullptr; }
};
using ArgumentVector = Holder<GlobalMemoryTraits<wchar_t**>>;

// A COM interface pointer, released once.
template <typename Interface> struct ComTraits {
    using Type = Interface*;
    static Type None() { return nullptr; }
    static bool Close(Type value) {
        value->Release();
        return true;
    }
};
template <typename Interface> using ComHolder = Holder<ComTraits<Interface>>;
