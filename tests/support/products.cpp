#include "tests/support/products.h"

#include "tests/support/test_support.h"

#include <msi.h>

#include <utility>

namespace test {

namespace {

constexpr DWORD InstallerTimeout = 120000; // milliseconds, per msiexec run

// msiexec's command line: "msiexec <option> <target> /qn [properties]".
ProcessResult RunInstaller(const std::wstring& option, const std::wstring& target,
                           const std::wstring& properties = std::wstring()) {
    return RunProcess(L"msiexec.exe " + option + L" " + Quote(target) + L" /qn " + properties,
                      std::wstring(), InstallerTimeout);
}

testing::AssertionResult CheckInstalled(const std::wstring& what, const std::wstring& productCode,
                                        const ProcessResult& run) {
    if (!run.started)
        return testing::AssertionFailure() << "msiexec did not start for " << Narrow(what);
    const int state = QueryProductState(productCode);
    if (run.exitCode != ERROR_SUCCESS || state != INSTALLSTATE_DEFAULT)
        return testing::AssertionFailure()
               << "installing " << Narrow(what) << ": msiexec exit code " << run.exitCode
               << ", state of " << Narrow(productCode) << " afterwards " << state;
    return testing::AssertionSuccess();
}

} // namespace

int QueryProductState(const std::wstring& productCode) {
    return MsiQueryProductStateW(productCode.c_str());
}

testing::AssertionResult InstallProduct(const std::wstring& packagePath,
                                        const std::wstring& productCode) {
    return CheckInstalled(packagePath, productCode, RunInstaller(L"/i", packagePath));
}

testing::AssertionResult InstallProduct(const samples::SampleProduct& product) {
    return InstallProduct(product.package, product.productCode);
}

testing::AssertionResult UninstallProduct(const std::wstring& productCode) {
    // The service may still be finishing the run before (1618, another
    // installation in progress): a removal that fails is tried once more.
    std::string attempts;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0)
            Sleep(1000);
        const ProcessResult run = RunInstaller(L"/x", productCode);
        if (!run.started)
            return testing::AssertionFailure()
                   << "msiexec did not start for " << Narrow(productCode);
        const int state = QueryProductState(productCode);
        if (run.exitCode == ERROR_SUCCESS && state != INSTALLSTATE_DEFAULT &&
            state != INSTALLSTATE_ADVERTISED)
            return testing::AssertionSuccess();
        attempts += " msiexec exit code " + std::to_string(run.exitCode) + ", state afterwards " +
                    std::to_string(state) + ";";
    }
    return testing::AssertionFailure() << "uninstalling " << Narrow(productCode) << ":" << attempts;
}

ScopedProduct::~ScopedProduct() {
    UninstallOrFail();
}

ScopedProduct::ScopedProduct(ScopedProduct&& other) noexcept
    : productCode_(std::exchange(other.productCode_, std::wstring())) {}

ScopedProduct& ScopedProduct::operator=(ScopedProduct&& other) noexcept {
    if (this != &other) {
        UninstallOrFail();
        productCode_ = std::exchange(other.productCode_, std::wstring());
    }
    return *this;
}

testing::AssertionResult ScopedProduct::Install(const std::wstring& packagePath,
                                                const std::wstring& productCode,
                                                const std::wstring& properties) {
    const testing::AssertionResult removed = Uninstall();
    if (!removed)
        return removed;
    const ProcessResult run = RunInstaller(L"/i", packagePath, properties);
    // A failed msiexec has rolled back; the product may be another holder's.
    if (run.started && run.exitCode == ERROR_SUCCESS)
        productCode_ = productCode;
    return CheckInstalled(packagePath, productCode, run);
}

testing::AssertionResult ScopedProduct::Install(const samples::SampleProduct& product,
                                                const std::wstring& properties) {
    return Install(product.package, product.productCode, properties);
}

testing::AssertionResult ScopedProduct::Uninstall() {
    if (!*this)
        return testing::AssertionSuccess();
    const std::wstring productCode = Release();
    // A product that never got installed has nothing to remove.
    if (QueryProductState(productCode) == INSTALLSTATE_UNKNOWN)
        return testing::AssertionSuccess();
    return UninstallProduct(productCode);
}

void ScopedProduct::UninstallOrFail() {
    const testing::AssertionResult removed = Uninstall();
    if (!removed)
        ADD_FAILURE() << removed.message();
}

std::wstring ScopedProduct::Release() {
    return std::exchange(productCode_, std::wstring());
}

std::wstring ReadProductVersion(const std::wstring& productCode) {
    wchar_t version[64] = {}; // terminator included
    DWORD length = 64;
    if (MsiGetProductInfoW(productCode.c_str(), L"VersionString", version, &length) !=
        ERROR_SUCCESS)
        return L"(unknown)";
    return version;
}

std::vector<std::wstring> ListProductPatches(const std::wstring& productCode) {
    std::vector<std::wstring> patches;
    for (DWORD index = 0;; ++index) {
        wchar_t patch[39] = {};        // 38 characters and the terminator
        wchar_t transforms[1024] = {}; // terminator included
        DWORD length = 1024;
        if (MsiEnumPatchesW(productCode.c_str(), index, patch, transforms, &length) !=
            ERROR_SUCCESS)
            break;
        patches.push_back(patch);
    }
    return patches;
}

} // namespace test
