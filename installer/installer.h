// The installer-service operations this program uses, and nothing else of
// msi.dll. Every other folder reaches the service through this header.
#pragma once

#include <windows.h>

#include <utility>

#include <msi.h>
#include <msiquery.h>

namespace installer {

// The seven operations; the rest of the program calls them by these names.
using ::MsiCloseHandle;
using ::MsiConfigureProductExW;
using ::MsiGetProductInfoW;
using ::MsiGetSummaryInformationW;
using ::MsiQueryProductStateW;
using ::MsiSetInternalUI;
using ::MsiSummaryInfoGetPropertyW;

constexpr UINT PropertyKeywords = 5; // PID_KEYWORDS
constexpr UINT PropertyTemplate = 7; // PID_TEMPLATE

constexpr INSTALLSTATE StateAdvertised = INSTALLSTATE_ADVERTISED; // 1
constexpr INSTALLSTATE StateDefault = INSTALLSTATE_DEFAULT;       // 5
constexpr int LevelDefault = INSTALLLEVEL_DEFAULT;                // 0

// 35: basic progress only, without a Cancel button.
constexpr INSTALLUILEVEL UiLevelBasicHideCancel =
    INSTALLUILEVEL(INSTALLUILEVEL_BASIC | INSTALLUILEVEL_HIDECANCEL);

} // namespace installer

// Owns an installer-service handle; a non-zero handle is closed with
// MsiCloseHandle exactly once, when the holder goes (also during unwinding).
class MsiHandleHolder {
  public:
    MsiHandleHolder() = default;
    explicit MsiHandleHolder(MSIHANDLE handle) : handle_(handle) {}
    ~MsiHandleHolder() { reset(); }
    MsiHandleHolder(MsiHandleHolder&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    MsiHandleHolder& operator=(MsiHandleHolder&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, 0);
        }
        return *this;
    }
    MsiHandleHolder(const MsiHandleHolder&) = delete;
    MsiHandleHolder& operator=(const MsiHandleHolder&) = delete;

    MSIHANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }

    // The result of the close is not examined.
    void reset() {
        if (handle_ != 0)
            ::MsiCloseHandle(std::exchange(handle_, 0));
    }

  private:
    MSIHANDLE handle_ = 0;
};
