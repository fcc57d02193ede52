// Real patches from the patch writer, applied by the platform's installer
// service to a product that the test installs with msiexec.
#include "installer/installer.h"
#include "kit/deployment_rules.h"
#include "kit/stamp/patch_stamp.h"
#include "products/products.h"
#include "tests/support/products.h"
#include "tests/support/test_support.h"
#include "tools/patch_writer/patch_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

namespace {

using test::Narrow;

constexpr wchar_t TargetProduct[] = L"{3F6B8C2D-5A4E-4C71-9E0B-7D1A2C3E4F10}";
constexpr wchar_t TargetUpgrade[] = L"{3F6B8C2D-5A4E-4C71-9E0B-7D1A2C3E4FF0}";
constexpr wchar_t OtherProduct[] = L"{3F6B8C2D-5A4E-4C71-9E0B-7D1A2C3E4F20}";
constexpr wchar_t OtherUpgrade[] = L"{3F6B8C2D-5A4E-4C71-9E0B-7D1A2C3E4FF1}";
constexpr wchar_t PatchCode[] = L"{3F6B8C2D-5A4E-4C71-9E0B-7D1A2C3E4B01}";

std::wstring TargetPackage() {
    std::wstring path = PATCH_TARGET_MSI;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return L"Z:" + path;
}

patchwriter::PatchDefinition TargetPatch() {
    patchwriter::PatchDefinition definition;
    definition.targets.push_back(
        {TargetProduct, TargetUpgrade, L"1033", L"{3F6B8C2D-5A4E-4C71-9E0B-7D1A2C3E4C11}"});
    definition.patchCode = PatchCode;
    definition.fromVersion = L"1.0.0.0";
    definition.toVersion = L"1.1.0.0";
    definition.subject = L"Patch Target 1.1";
    definition.author = L"Tessaro";
    return definition;
}

class PatchApplyTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test::FileExists(TargetPackage())) << Narrow(TargetPackage());
        const test::ProcessResult install =
            test::RunProcess(L"msiexec.exe /i " + test::Quote(TargetPackage()) + L" /qn");
        ASSERT_TRUE(install.started);
        ASSERT_EQ(install.exitCode, 0u);
        installed_ = true;
        ASSERT_EQ(MsiQueryProductStateW(TargetProduct), INSTALLSTATE_DEFAULT);
        ASSERT_EQ(Narrow(test::ReadProductVersion(TargetProduct)), "1.0.0.0");
    }

    void TearDown() override {
        if (!installed_)
            return;
        const test::ProcessResult removal =
            test::RunProcess(L"msiexec.exe /x " + std::wstring(TargetProduct) + L" /qn");
        EXPECT_EQ(removal.exitCode, 0u);
        EXPECT_NE(MsiQueryProductStateW(TargetProduct), INSTALLSTATE_DEFAULT);
    }

    // Applies the patch file the way the launcher does; the result of the
    // call is not proof of anything (see the tests).
    UINT ApplyPatch(const std::wstring& path) {
        const INSTALLUILEVEL previous = MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
        const UINT result =
            MsiConfigureProductExW(TargetProduct, INSTALLLEVEL_DEFAULT, INSTALLSTATE_DEFAULT,
                                   (L"PATCH=\"" + path + L"\" REBOOTPROMPT=S").c_str());
        MsiSetInternalUI(previous, nullptr);
        return result;
    }

    test::ScratchDirectory scratch_;
    bool installed_ = false;
};

TEST_F(PatchApplyTest, BringsTheProductToTheToVersionAndRegistersThePatch) {
    const std::wstring patch = scratch_.file(L"target.msp");
    std::wstring error;
    ASSERT_TRUE(patchwriter::WritePatchPackage(patch, TargetPatch(), error)) << Narrow(error);

    EXPECT_EQ(ApplyPatch(patch), 0u);
    EXPECT_EQ(MsiQueryProductStateW(TargetProduct), INSTALLSTATE_DEFAULT);
    EXPECT_EQ(Narrow(test::ReadProductVersion(TargetProduct)), "1.1.0.0");
    const std::vector<std::wstring> patches = test::ListProductPatches(TargetProduct);
    ASSERT_EQ(patches.size(), 1u);
    EXPECT_EQ(Narrow(patches[0]), Narrow(PatchCode));
}

TEST_F(PatchApplyTest, AppliesOnlyTheTransformsOfTheProductInAPatchForSeveral) {
    patchwriter::PatchDefinition definition = TargetPatch();
    // The installed product second: its transforms are the second pair.
    definition.targets.insert(definition.targets.begin(), {OtherProduct, OtherUpgrade, L"", L""});
    definition.toVersion = L"1.2.0.0";
    const std::wstring patch = scratch_.file(L"several.msp");
    std::wstring error;
    ASSERT_TRUE(patchwriter::WritePatchPackage(patch, definition, error)) << Narrow(error);

    ApplyPatch(patch);
    EXPECT_EQ(Narrow(test::ReadProductVersion(TargetProduct)), "1.2.0.0");
    const std::vector<std::wstring> patches = test::ListProductPatches(TargetProduct);
    ASSERT_EQ(patches.size(), 1u);
    EXPECT_EQ(Narrow(patches[0]), Narrow(PatchCode));
}

bool KeyExists(const std::wstring& key, REGSAM view) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &opened) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

// Where "patchkit inspect" tells a management tool to look: the key the
// installer writes when it applies a small update to a per-machine product
// (64-bit view), and the Uninstall key of a product from an x86 package,
// which the installer keeps in the 32-bit view.
TEST_F(PatchApplyTest, RegistersASmallUpdateWhereTheDeploymentRulesLook) {
    patchwriter::PatchDefinition definition = TargetPatch();
    definition.toVersion = definition.fromVersion;
    definition.targets[0].platform = L"Intel";
    const std::wstring patch = scratch_.file(L"small.msp");
    std::wstring error;
    ASSERT_TRUE(patchwriter::WritePatchPackage(patch, definition, error)) << Narrow(error);
    std::map<std::wstring, std::wstring> platforms;
    ASSERT_TRUE(kit::ReadTransformPlatforms(patch, platforms));
    EXPECT_EQ(platforms, (std::map<std::wstring, std::wstring>{{TargetProduct, L"Intel"}}));
    const std::wstring detection = kit::MachinePatchKey(TargetProduct, PatchCode);
    EXPECT_FALSE(KeyExists(detection, KEY_WOW64_64KEY));

    EXPECT_EQ(ApplyPatch(patch), 0u);
    EXPECT_TRUE(KeyExists(detection, KEY_WOW64_64KEY)) << Narrow(detection);
    const std::wstring requirement = kit::UninstallKey + std::wstring(TargetProduct);
    EXPECT_TRUE(KeyExists(requirement, KEY_WOW64_32KEY));
    EXPECT_FALSE(KeyExists(requirement, KEY_WOW64_64KEY));
    kit::PatchFacts facts;
    facts.products = TargetProduct;
    facts.upgradeVersion = definition.toVersion;
    facts.patchCode = PatchCode;
    facts.smallUpdate = true;
    const std::string rules = Narrow(kit::DeploymentRules(L"SP.exe", facts, platforms));
    EXPECT_NE(rules.find("Detection: registry key HKLM\\" + Narrow(detection) + " exists"),
              std::string::npos)
        << rules;
    EXPECT_NE(rules.find("Requirement: registry key HKLM\\" + Narrow(requirement) +
                         " exists, 32-bit view"),
              std::string::npos)
        << rules;
}

// The service decides when it applies a patch whether it may remove it again,
// from the patch's MsiPatchMetadata AllowRemoval, and publishes that as the
// applied patch's "Uninstallable"; the check reads the same table beforehand.
TEST_F(PatchApplyTest, MarksThePatchRemovableOnlyWhenItsMetadataAllowsRemoval) {
    const struct {
        const wchar_t* allowRemoval; // empty: no MsiPatchMetadata table
        kit::Removal checked;
        Removability applied;
        const char* uninstallable;
    } cases[] = {
        {L"1", kit::Removal::Allowed, Removability::Removable, "1"},
        {L"0", kit::Removal::NotAllowed, Removability::NotRemovable, "0"},
        {L"", kit::Removal::NotAllowed, Removability::NotRemovable, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("AllowRemoval '" + Narrow(c.allowRemoval) + "'");
        TearDown();
        SetUp();
        patchwriter::PatchDefinition definition = TargetPatch();
        definition.allowRemoval = c.allowRemoval;
        const std::wstring patch = scratch_.file(L"removal.msp");
        std::wstring error;
        ASSERT_TRUE(patchwriter::WritePatchPackage(patch, definition, error)) << Narrow(error);
        EXPECT_EQ(kit::ReadRemovalFacts(patch).removal, c.checked);

        EXPECT_EQ(ApplyPatch(patch), 0u);
        ASSERT_EQ(test::ListProductPatches(TargetProduct).size(), 1u);
        const RemovabilityReading reading = ReadPatchRemovability(TargetProduct, PatchCode);
        EXPECT_EQ(reading.result, 0u);
        EXPECT_EQ(Narrow(reading.value), c.uninstallable);
        EXPECT_EQ(reading.removability, c.applied);
        EXPECT_EQ(reading.instance.context, MSIINSTALLCONTEXT_MACHINE);
    }
}

// The uninstall command a management tool is given, and what it says about a
// patch that the installer will not remove or may not.
TEST(DeploymentRules, GiveTheUninstallCommandAndWarnWhereThePatchIsNotRemovable) {
    const std::string command = "  Uninstall command: SP.exe /uninstall /qn /norestart /exitcode "
                                "/log \"%WINDIR%\\Temp\\SP-uninstall.log\"";
    const struct {
        kit::Removal removal;
        const char* note; // nullptr: no note
    } cases[] = {
        {kit::Removal::Allowed, nullptr},
        {kit::Removal::NotAllowed, "    This patch is not removable (why): on a machine that has "
                                   "it the uninstall exits 1646, and the tool reports the "
                                   "uninstall as failed\n"},
        {kit::Removal::Unreadable, "    This patch may not be removable (why): the installer "
                                   "service decides; where it refuses, the uninstall exits 1646"},
    };
    for (const auto& c : cases) {
        kit::PatchFacts facts;
        facts.products = TargetProduct;
        facts.upgradeVersion = L"1.1.0.0";
        facts.targetVersions = L"1.0.0.0,";
        facts.patchCode = PatchCode;
        facts.removal.removal = c.removal;
        facts.removal.reason = L"why";
        const std::string rules = Narrow(kit::DeploymentRules(L"SP.exe", facts, {}));
        EXPECT_NE(rules.find(command), std::string::npos) << rules;
        if (c.note == nullptr)
            EXPECT_EQ(rules.find("This patch"), std::string::npos) << rules;
        else
            EXPECT_NE(rules.find(c.note), std::string::npos) << rules;
        EXPECT_LT(rules.find("Install command:"), rules.find(command)) << rules;
    }
}

// The service answers 0 here too; only the product's state shows that
// nothing was applied.
TEST_F(PatchApplyTest, LeavesAProductThatThePatchDoesNotListUnchanged) {
    patchwriter::PatchDefinition definition = TargetPatch();
    definition.targets = {{OtherProduct, OtherUpgrade, L"", L""}};
    const std::wstring patch = scratch_.file(L"other.msp");
    std::wstring error;
    ASSERT_TRUE(patchwriter::WritePatchPackage(patch, definition, error)) << Narrow(error);

    const UINT result = ApplyPatch(patch);
    EXPECT_EQ(Narrow(test::ReadProductVersion(TargetProduct)), "1.0.0.0") << "result " << result;
    EXPECT_TRUE(test::ListProductPatches(TargetProduct).empty());
}

} // namespace
