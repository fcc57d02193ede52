// Balances a successful CoInitialize with CoUninitialize, for the tools and
// tests that use structured storage.
#pragma once

#include <objbase.h>

namespace kit {

class ComScope {
  public:
    ComScope() : initialized_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (initialized_)
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    bool initialized_;
};

} // namespace kit
