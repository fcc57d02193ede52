// A fixture for the launcher's flow against the installer double and the
// recording messages: every path opens as the scripted patch, and products
// are scripted with the three properties the program reads.
#pragma once

#include "common/program_state.h"
#include "launcher/launcher.h"
#include "products/products.h"
#include "tests/support/installer_double.h"
#include "tests/support/messages_double.h"
#include "tests/support/restart_recorder.h"

#include <gtest/gtest.h>

#include <string>

namespace test {

class ScriptedFlowTest : public testing::Test {
  protected:
    void SetUp() override {
        ResetInstaller();
        ResetReports();
        ProductInventory.clear();
        CurrentProductName.clear();
        QuietMode = false;
        TheRunSettings = RunSettings();
        SetThreadLocale(1033);
        Installer().anyPathIsPackage = true;
        restarts_.Reset();
    }
    void TearDown() override {
        ProductInventory.clear();
        QuietMode = false;
        TheRunSettings = RunSettings();
        SetThreadLocale(1033);
    }

    // The patch's keywords (PID_KEYWORDS) and product list (PID_TEMPLATE); its
    // code (PID_REVNUMBER) is the sample patch's.
    static void SetPatch(const std::wstring& keywords, const std::wstring& products) {
        Installer().anyPackage.properties[5] = keywords;
        Installer().anyPackage.properties[7] = products;
        Installer().anyPackage.properties[9] = SamplePatchCode;
    }

    static constexpr wchar_t SamplePatchCode[] = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}";

    static DoubleProduct& AddProduct(const std::wstring& code, const std::wstring& version,
                                     const std::wstring& name, const std::wstring& language,
                                     int state = 5) {
        DoubleProduct& product = Installer().products[code];
        product.state = state;
        product.properties[L"VersionString"] = version;
        product.properties[L"ProductName"] = name;
        product.properties[L"Language"] = language;
        return product;
    }

    // Every test of the flow has it: no run restarts the computer.
    RestartRecorder restarts_;
};

} // namespace test
