// "patchkit stamp": a copy of a vendor's patch with the launcher's
// keywords and nothing else changed.
#include "common/holder.h"
#include "kit/check/patch_check.h"
#include "kit/package/com_scope.h"
#include "kit/stamp/patch_stamp.h"
#include "tests/support/test_support.h"
#include "tools/patch_writer/patch_writer.h"

#include <gtest/gtest.h>

#include <msi.h>
#include <msiquery.h>

#include <map>

namespace {

using test::Narrow;

constexpr wchar_t SourceList[] = L"\\\\server\\patches\\;https://example.com/patches/";
constexpr wchar_t SignatureStream[] = L"\005DigitalSignature";
constexpr wchar_t SummaryStream[] = L"\005SummaryInformation";

// A patch as other authoring tools make it: source locations in its
// keywords, versions only in its transforms' revision numbers, a signature.
patchwriter::PatchDefinition VendorPatch() {
    patchwriter::PatchDefinition definition;
    definition.targets = {
        {L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}", L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF0}",
         L"1033", L""},
        {L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A20}", L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF1}",
         L"1031", L""},
        {L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A30}", L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF2}",
         L"1041", L"", L"1.0.5.0"},
    };
    definition.patchCode = L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}";
    definition.fromVersion = L"1.0.0.0";
    definition.toVersion = L"1.1.0.0";
    definition.keywords = SourceList;
    definition.subject = L"Service Pack 1";
    definition.author = L"Vendor";
    definition.streams.push_back({SignatureStream, std::vector<std::uint8_t>(1500, 0x5A)});
    return definition;
}

// Every element of a storage tree by path: "S" plus the class for a storage,
// the bytes for a stream.
void ReadTree(IStorage* storage, const std::wstring& prefix,
              std::map<std::wstring, std::string>& elements) {
    STATSTG self = {};
    ASSERT_TRUE(SUCCEEDED(storage->Stat(&self, STATFLAG_NONAME)));
    elements[prefix] = "S" + Narrow(kit::GuidText(self.clsid));
    ComHolder<IEnumSTATSTG> list;
    ASSERT_TRUE(SUCCEEDED(storage->EnumElements(0, nullptr, 0, list.put())));
    STATSTG element = {};
    while (list.get()->Next(1, &element, nullptr) == S_OK) {
        const std::wstring name = element.pwcsName;
        CoTaskMemFree(element.pwcsName);
        const std::wstring path = prefix + L"/" + name;
        if (element.type == STGTY_STORAGE) {
            ComHolder<IStorage> child;
            ASSERT_TRUE(SUCCEEDED(storage->OpenStorage(
                name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, child.put())));
            ReadTree(child.get(), path, elements);
        } else {
            ComHolder<IStream> stream;
            ASSERT_TRUE(SUCCEEDED(storage->OpenStream(
                name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put())));
            std::string bytes(std::size_t(element.cbSize.QuadPart), '\0');
            ULONG read = 0;
            if (!bytes.empty())
                stream.get()->Read(&bytes[0], ULONG(bytes.size()), &read);
            elements[path] = bytes;
        }
    }
}

std::map<std::wstring, std::string> Tree(const std::wstring& path) {
    kit::ComScope com;
    ComHolder<IStorage> root;
    std::map<std::wstring, std::string> elements;
    EXPECT_TRUE(SUCCEEDED(StgOpenStorage(path.c_str(), nullptr, STGM_READ | STGM_SHARE_DENY_WRITE,
                                         nullptr, 0, root.put())))
        << Narrow(path);
    if (root.get() != nullptr)
        ReadTree(root.get(), L"", elements);
    return elements;
}

// Every summary property 1 to 19 as the installer service reads it.
std::map<UINT, std::wstring> SummaryProperties(const std::wstring& path) {
    std::map<UINT, std::wstring> properties;
    MSIHANDLE summary = 0;
    EXPECT_EQ(MsiGetSummaryInformationW(0, path.c_str(), 0, &summary), UINT(ERROR_SUCCESS));
    for (UINT id = 1; id <= 19; ++id) {
        UINT type = 0;
        INT integer = 0;
        FILETIME time = {};
        wchar_t text[4096] = {}; // terminator included
        DWORD length = 4096;
        if (MsiSummaryInfoGetPropertyW(summary, id, &type, &integer, &time, text, &length) !=
                ERROR_SUCCESS ||
            type == VT_EMPTY)
            continue;
        properties[id] = std::to_wstring(type) + L":" + std::to_wstring(integer) + L":" +
                         std::to_wstring(time.dwLowDateTime) + L":" +
                         std::to_wstring(time.dwHighDateTime) + L":" + text;
    }
    MsiCloseHandle(summary);
    return properties;
}

class PatchStamp : public testing::Test {
  protected:
    std::wstring Write(const patchwriter::PatchDefinition& definition, const std::wstring& name) {
        const std::wstring path = scratch_.file(name);
        std::wstring error;
        EXPECT_TRUE(patchwriter::WritePatchPackage(path, definition, error)) << Narrow(error);
        return path;
    }

    test::ScratchDirectory scratch_;
};

TEST_F(PatchStamp, GivenKeywordsChangeOnlyTheKeywords) {
    const std::wstring input = Write(VendorPatch(), L"vendor.msp");
    const std::wstring output = scratch_.file(L"stamped.msp");
    kit::StampResult result;
    std::wstring error;
    // --force: keywords that the transforms do not name.
    ASSERT_TRUE(kit::StampPatchPackage(input, output, L"2.0;1.9,", true, result, error))
        << Narrow(error);

    std::map<std::wstring, std::string> before = Tree(input);
    std::map<std::wstring, std::string> after = Tree(output);
    ASSERT_FALSE(before.empty());
    EXPECT_NE(before[std::wstring(L"/") + SummaryStream],
              after[std::wstring(L"/") + SummaryStream]);
    before.erase(std::wstring(L"/") + SummaryStream);
    after.erase(std::wstring(L"/") + SummaryStream);
    EXPECT_TRUE(before == after) << "streams, storages or classes differ; " << before.size()
                                 << " elements before, " << after.size() << " after";

    std::map<UINT, std::wstring> oldSummary = SummaryProperties(input);
    std::map<UINT, std::wstring> newSummary = SummaryProperties(output);
    EXPECT_EQ(Narrow(newSummary[5]), "30:0:0:0:2.0;1.9,");
    oldSummary.erase(5);
    newSummary.erase(5);
    EXPECT_TRUE(oldSummary == newSummary) << "summary properties other than the keywords differ";
    EXPECT_EQ(oldSummary.size(), 9u);
}

TEST_F(PatchStamp, DerivesKeywordsFromTheTransformsThatTheCheckAccepts) {
    const std::wstring input = Write(VendorPatch(), L"vendor.msp");
    const std::wstring output = scratch_.file(L"stamped.msp");
    EXPECT_NE(Narrow(kit::CheckPatchPackage(input)), "");

    kit::StampResult result;
    std::wstring error;
    ASSERT_TRUE(kit::StampPatchPackage(input, output, L"", false, result, error)) << Narrow(error);
    EXPECT_EQ(Narrow(result.keywords), "1.1.0.0;1.0.0.0,1.0.5.0,");
    EXPECT_EQ(Narrow(SummaryProperties(output)[5]), "30:0:0:0:1.1.0.0;1.0.0.0,1.0.5.0,");
    EXPECT_EQ(Narrow(kit::CheckPatchPackage(output)), "");
}

TEST_F(PatchStamp, RefusesTransformsThatCannotMakeKeywords) {
    patchwriter::PatchDefinition smallUpdate = VendorPatch();
    smallUpdate.targets[2].fromVersion = L"1.1.0.0";
    patchwriter::PatchDefinition disagreeing = VendorPatch();
    disagreeing.targets[1].toVersion = L"1.2.0.0";
    const struct {
        const char* name;
        patchwriter::PatchDefinition definition;
        std::wstring said;
    } cases[] = {
        {"a small update beside an update", smallUpdate,
         L"the transform 'T3ToUpgrade' takes {6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A30} from 1.1.0.0 "
         L"to 1.1.0.0, but 'T1ToUpgrade' takes its product from 1.0.0.0 to 1.1.0.0"},
        {"disagreeing", disagreeing,
         L"the transforms disagree on the version they bring a product to"},
    };
    for (const auto& refused : cases) {
        const std::wstring input = Write(refused.definition, test::Widen(refused.name) + L".msp");
        const std::wstring output = scratch_.file(L"out.msp");
        kit::StampResult result;
        std::wstring error;
        EXPECT_FALSE(kit::StampPatchPackage(input, output, L"", false, result, error))
            << refused.name;
        EXPECT_NE(error.find(refused.said), std::wstring::npos)
            << refused.name << ": " << Narrow(error);
        EXPECT_FALSE(test::FileExists(output)) << refused.name;
    }
}

// A hotfix: every transform leaves its product at the version it was at.
patchwriter::PatchDefinition SmallUpdate() {
    patchwriter::PatchDefinition definition = VendorPatch();
    definition.targets.pop_back();
    definition.fromVersion = L"3.1.21022";
    definition.toVersion = L"3.1.21022";
    return definition;
}

TEST_F(PatchStamp, WritesASmallUpdateAsItsVersionAloneThatTheCheckAccepts) {
    const std::wstring input = Write(SmallUpdate(), L"hotfix.msp");
    const std::wstring output = scratch_.file(L"stamped.msp");
    kit::StampResult result;
    std::wstring error;
    ASSERT_TRUE(kit::StampPatchPackage(input, output, L"", false, result, error)) << Narrow(error);
    EXPECT_EQ(Narrow(result.keywords), "3.1.21022;3.1.21022,");
    EXPECT_TRUE(result.smallUpdate);
    EXPECT_EQ(Narrow(result.patchCode), "{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}");
    kit::PatchFacts facts;
    EXPECT_EQ(Narrow(kit::CheckPatchPackage(output, facts)), "");
    EXPECT_TRUE(facts.smallUpdate);
    EXPECT_EQ(Narrow(facts.patchCode), "{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8B01}");

    // A small update needs its patch code: without one the launcher could
    // never install it, and the build would refuse the copy.
    patchwriter::SummaryInformation summary;
    summary.SetText(kit::PropertyKeywords, L"https://example.com/hotfix/");
    summary.SetText(kit::PropertyRevNumber, L"Hotfix 7");
    ASSERT_TRUE(patchwriter::WriteSummaryPackage(scratch_.file(L"no-code.msp"), summary));
    EXPECT_FALSE(kit::StampPatchPackage(scratch_.file(L"no-code.msp"), output,
                                        L"3.1.21022;3.1.21022,", false, result, error));
    EXPECT_NE(error.find(L"does not start with the patch code"), std::wstring::npos)
        << Narrow(error);
}

// --keywords TEXT: the build's rules, then agreement with the transforms
// (VendorPatch: 1.0.0.0 and 1.0.5.0 to 1.1.0.0), which --force waives.
TEST_F(PatchStamp, RefusesGivenKeywordsThatTheCheckOrTheTransformsContradict) {
    const std::wstring input = Write(VendorPatch(), L"vendor.msp");
    const std::wstring output = scratch_.file(L"stamped.msp");
    const struct {
        const wchar_t* keywords;
        const wchar_t* said;  // nullptr: written
        bool forceWritesThem; // --force writes them
    } cases[] = {
        {L"1.1.0.0;1.0.5.0,1.0.0.0,0.9.0.0,", nullptr, true},
        {L"10.0.1075.23,10.0.1075.25;",
         L"has the upgrade version '10.0.1075.23,10.0.1075.25', which is not a dotted version",
         false},
        {L"1.1.0.0;1.1.0.0,",
         L"the keywords' target list '1.1.0.0,' does not name 1.0.0.0, the version that the "
         L"transform 'T1ToUpgrade' takes {6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10} from; give "
         L"--force to write them anyway",
         true},
        {L"1.1.0.0;1.0.0.0,",
         L"does not name 1.0.5.0, the version that the transform 'T3ToUpgrade' takes", true},
        {L"1.2.0.0;1.0.0.0,1.0.5.0,",
         L"the keywords' upgrade version '1.2.0.0' is not 1.1.0.0, the version that the transform "
         L"'T1ToUpgrade' brings {6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10} to; give --force",
         true},
    };
    for (const auto& c : cases) {
        for (const bool force : {false, true}) {
            SCOPED_TRACE(Narrow(c.keywords) + (force ? " --force" : ""));
            DeleteFileW(output.c_str());
            kit::StampResult result;
            std::wstring error;
            const bool written = c.said == nullptr || (force && c.forceWritesThem);
            EXPECT_EQ(kit::StampPatchPackage(input, output, c.keywords, force, result, error),
                      written)
                << Narrow(error);
            EXPECT_EQ(test::FileExists(output), written);
            if (!written)
                EXPECT_NE(error.find(c.said), std::wstring::npos) << Narrow(error);
            else
                EXPECT_EQ(Narrow(SummaryProperties(output)[5]), "30:0:0:0:" + Narrow(c.keywords));
        }
    }
}

TEST_F(PatchStamp, SaysWhenTheCopysSignatureNoLongerMatches) {
    patchwriter::PatchDefinition plain = VendorPatch();
    plain.streams.clear();
    for (const bool isSigned : {true, false}) {
        const std::wstring input =
            Write(isSigned ? VendorPatch() : plain, isSigned ? L"signed.msp" : L"plain.msp");
        kit::StampResult result;
        std::wstring error;
        ASSERT_TRUE(
            kit::StampPatchPackage(input, scratch_.file(L"out.msp"), L"", false, result, error))
            << Narrow(error);
        EXPECT_EQ(result.signatureInvalidated, isSigned);
    }
}

TEST(TransformRevision, SplitsProductCodesVersionsAndUpgradeCode) {
    kit::TransformRevision revision;
    ASSERT_TRUE(kit::ParseTransformRevision(
        L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}1.0.0;{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}"
        L"1.0.1;{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF0}",
        revision));
    EXPECT_EQ(Narrow(revision.fromVersion), "1.0.0");
    EXPECT_EQ(Narrow(revision.toVersion), "1.0.1");
    EXPECT_EQ(Narrow(revision.upgradeCode), "{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8AF0}");
    for (const wchar_t* bad : {L"", L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}1.0.0", L"1.0.0;1.0.1;",
                               L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}x;"
                               L"{6E1E2A4B-1C1D-4B8E-9A51-3F0C7D2E8A10}1.0.1"})
        EXPECT_FALSE(kit::ParseTransformRevision(bad, revision)) << Narrow(bad);
}

} // namespace
