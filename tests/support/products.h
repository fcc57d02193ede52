// Installing and removing real products in the test prefix, with the
// platform's msiexec and installer service (links msi.dll).
#pragma once

#include "samples/sample_products.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace test {

// The installer service's state for the product (INSTALLSTATE: 5 installed,
// -1 unknown, ...).
int QueryProductState(const std::wstring& productCode);

// The product's "VersionString", or "(unknown)" when the service has none.
std::wstring ReadProductVersion(const std::wstring& productCode);

// The patch codes that the service lists for the product, in its order.
std::vector<std::wstring> ListProductPatches(const std::wstring& productCode);

// Runs "msiexec /i <package> /qn" and waits for it: success when msiexec
// exits 0 and the product then reads as installed (state 5). A product code
// is installed at one version at a time: installing another version of an
// installed product fails (1638, ERROR_PRODUCT_VERSION); uninstall it first.
testing::AssertionResult InstallProduct(const std::wstring& packagePath,
                                        const std::wstring& productCode);
testing::AssertionResult InstallProduct(const samples::SampleProduct& product);

// Runs "msiexec /x <code> /qn": success when msiexec exits 0 and the product
// then reads as neither installed nor advertised.
testing::AssertionResult UninstallProduct(const std::wstring& productCode);

// Holds one product that a test installed and uninstalls it when it goes; a
// product still installed after that is a test failure. Move-only.
class ScopedProduct {
  public:
    ScopedProduct() = default;
    ~ScopedProduct();
    ScopedProduct(ScopedProduct&& other) noexcept;
    ScopedProduct& operator=(ScopedProduct&& other) noexcept;
    ScopedProduct(const ScopedProduct&) = delete;
    ScopedProduct& operator=(const ScopedProduct&) = delete;

    // Uninstalls what it held, then installs the package (with msiexec's
    // `properties`, such as ALLUSERS="" for a per-user installation) and holds
    // the product when msiexec succeeded, even if the state check then fails,
    // so that a half-made install is removed too.
    testing::AssertionResult Install(const std::wstring& packagePath,
                                     const std::wstring& productCode,
                                     const std::wstring& properties = std::wstring());
    testing::AssertionResult Install(const samples::SampleProduct& product,
                                     const std::wstring& properties = std::wstring());

    // Uninstalls now (nothing to do when empty) and holds nothing after.
    testing::AssertionResult Uninstall();

    // Stops holding the product without uninstalling it.
    std::wstring Release();

    const std::wstring& productCode() const { return productCode_; }
    explicit operator bool() const { return !productCode_.empty(); }

  private:
    void UninstallOrFail(); // for the destructor and the move: failures are test failures

    std::wstring productCode_; // empty: holds nothing
};

} // namespace test
