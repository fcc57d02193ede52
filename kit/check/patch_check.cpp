#include "kit/check/patch_check.h"

#include "common/growing_text.h"
#include "common/holder.h"
#include "installer/installer.h"
#include "kit/files/file_errors.h"
#include "kit/files/long_path.h"
#include "kit/launcher_image.h"
#include "kit/package/patch_package.h"
#include "kit/stamp/patch_stamp.h"
#include "patch/patch.h"
#include "products/products.h"

#include <bcrypt.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace kit {

namespace {

constexpr wchar_t StampAdvice[] =
    L" Patches made by other authoring tools keep a list of source locations here: write a copy "
    L"with the launcher's keywords, taken from the patch's own transforms, with "
    L"\"patchkit stamp IN.msp OUT.msp\" (or \"--keywords TEXT\" to give them), and pack "
    L"that copy.";
constexpr wchar_t TemplateForm[] =
    L"It must be {PRODUCTCODE};{PRODUCTCODE}... : one or more product codes in registry form "
    L"({XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case hexadecimal digits), separated by "
    L"\";\" with none after the last.";

std::wstring TemplateProblem(const std::wstring& products, const std::wstring& problem) {
    return L"PID_TEMPLATE (Template) '" + Shorten(products) + L"' " + problem + L". " +
           TemplateForm;
}

// The raw text of summary property `property`, for the rules and messages;
// empty when there is none.
std::wstring RawSummaryText(const std::wstring& path, UINT property) {
    MsiHandleHolder summary(OpenPatchSummary(path));
    if (!summary)
        return std::wstring();
    DWORD length = 0;
    UINT type = 0;
    INT integer = 0;
    FILETIME time = {};
    wchar_t empty[1] = {L'\0'}; // room for the terminator only
    if (installer::MsiSummaryInfoGetPropertyW(summary.get(), property, &type, &integer, &time,
                                              empty, &length) != ERROR_MORE_DATA)
        return std::wstring();
    std::wstring text(length + 1, L'\0'); // terminator included
    DWORD capacity = length + 1;
    if (installer::MsiSummaryInfoGetPropertyW(summary.get(), property, &type, &integer, &time,
                                              &text[0], &capacity) != ERROR_SUCCESS)
        return std::wstring();
    text.resize(length);
    return text;
}

// Wine's installer service jumps to address 0 when it opens a compound file of
// the patch class without its string pool: the streams it needs are looked
// for first. The names of those that are missing, or empty.
std::wstring MissingStreams(const std::wstring& path) {
    std::vector<std::wstring> names;
    if (!kit::ReadRootStreamNames(path, names))
        return L"streams that can be listed";
    const struct {
        std::wstring stored;
        const wchar_t* shown;
    } needed[] = {
        {L"\005SummaryInformation", L"\\005SummaryInformation (the summary information)"},
        {kit::EncodeStreamName(L"_StringPool", true), L"_StringPool (the string pool)"},
        {kit::EncodeStreamName(L"_StringData", true), L"_StringData (the string pool)"},
    };
    std::wstring missing;
    for (const auto& stream : needed) {
        bool found = false;
        for (const std::wstring& name : names)
            found = found || name == stream.stored;
        if (!found)
            missing += (missing.empty() ? L"" : L", ") + std::wstring(stream.shown);
    }
    return missing;
}

std::wstring CheckProducts(const std::wstring& products) {
    if (products.empty())
        return L"PID_TEMPLATE (Template) is empty. " + std::wstring(TemplateForm);
    std::size_t start = 0;
    for (std::size_t number = 1;; ++number) {
        const std::size_t semicolon = products.find(L';', start);
        const std::wstring entry = products.substr(
            start, semicolon == std::wstring::npos ? std::wstring::npos : semicolon - start);
        if (!kit::IsRegistryGuid(entry))
            return TemplateProblem(
                products, L"has as entry " + std::to_wstring(number) + L" '" + Shorten(entry) +
                              L"', which is not a product code in registry form");
        if (semicolon == std::wstring::npos)
            return std::wstring();
        start = semicolon + 1;
    }
}

// A handle of the platform's hashing (bcrypt.dll).
struct AlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type None() { return nullptr; }
    static bool Close(Type value) { return BCRYPT_SUCCESS(BCryptCloseAlgorithmProvider(value, 0)); }
};
struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type None() { return nullptr; }
    static bool Close(Type value) { return BCRYPT_SUCCESS(BCryptDestroyHash(value)); }
};

bool Sha256(const void* bytes, DWORD size, std::wstring& text) {
    Holder<AlgorithmTraits> algorithm;
    Holder<HashTraits> hash;
    UCHAR digest[32] = {}; // the 32 bytes of a SHA-256 digest
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(
            BCryptHashData(hash.get(), static_cast<PUCHAR>(const_cast<void*>(bytes)), size, 0)) ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof digest, 0)))
        return false;
    constexpr wchar_t Digits[] = L"0123456789abcdef";
    text.clear();
    for (UCHAR byte : digest) {
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return true;
}

bool ReadAt(HANDLE file, LONGLONG offset, void* buffer, DWORD size) {
    LARGE_INTEGER position = {};
    position.QuadPart = offset;
    DWORD read = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

// True when the program at `path` has a certificate table whose first entry
// is an Authenticode (PKCS #7 signed data) signature; whether it is valid is
// not looked at.
bool HasAuthenticodeSignature(const std::wstring& path) {
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS64 headers = {}; // the 32-bit form is shorter
    if (!file || !ReadAt(file.get(), 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !ReadAt(file.get(), dos.e_lfanew, &headers, sizeof headers) ||
        headers.Signature != IMAGE_NT_SIGNATURE)
        return false;
    IMAGE_DATA_DIRECTORY table = {};
    if (headers.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        if (headers.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_SECURITY)
            return false;
        table = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    } else {
        IMAGE_NT_HEADERS32 narrow = {};
        std::memcpy(&narrow, &headers, sizeof narrow);
        if (narrow.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_SECURITY)
            return false;
        table = narrow.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    }
    WIN_CERTIFICATE certificate = {};
    const DWORD header = offsetof(WIN_CERTIFICATE, bCertificate);
    return table.VirtualAddress != 0 && table.Size >= header &&
           ReadAt(file.get(), table.VirtualAddress, &certificate, header) &&
           certificate.wCertificateType == WIN_CERT_TYPE_PKCS_SIGNED_DATA;
}

// A copy of `bytes` in a new temporary file, deleted when the value goes.
constexpr DWORD TemporaryNameTries = 10000; // names tried before the copy is given up
class TemporaryCopy {
  public:
    TemporaryCopy(const void* bytes, DWORD size) {
        std::wstring directory;
        if (!ReadGrowingText(
                [](wchar_t* buffer, DWORD capacity) { return GetTempPathW(capacity, buffer); },
                directory))
            return;
        // A name of this process that no file has yet, created as it is taken.
        FileHandle file;
        for (DWORD number = 0; !file && number < TemporaryNameTries; ++number) {
            const std::wstring name = directory + InspectedCopyPrefix +
                                      std::to_wstring(GetCurrentProcessId()) + L"-" +
                                      std::to_wstring(number) + L".tmp";
            file.reset(CreateFileW(LongPathForm(name).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file)
                path_ = name;
            else if (GetLastError() != ERROR_FILE_EXISTS)
                return;
        }
        DWORD written = 0;
        written_ = file && WriteFile(file.get(), bytes, size, &written, nullptr) && written == size;
    }
    ~TemporaryCopy() {
        if (!path_.empty())
            DeleteFileW(LongPathForm(path_).c_str());
    }
    TemporaryCopy(const TemporaryCopy&) = delete;
    TemporaryCopy& operator=(const TemporaryCopy&) = delete;

    bool written() const { return written_; }
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
    bool written_ = false;
};

} // namespace

std::wstring CheckPatchPackage(const std::wstring& path) {
    PatchFacts facts;
    return CheckPatchPackage(path, facts);
}

std::wstring CheckPatchPackage(const std::wstring& path, PatchFacts& facts) {
    {
        const FileHandle file(CreateFileW(LongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER size = {};
        if (!file || !GetFileSizeEx(file.get(), &size))
            return L"cannot read the patch: " + ErrorWords(GetLastError(), path) + L".";
        std::wstring problem = PayloadSizeProblem(std::uint64_t(size.QuadPart));
        if (problem.empty())
            problem = CompoundFileProblem(file.get(), std::uint64_t(size.QuadPart));
        if (!problem.empty())
            return problem;
    }
    // The installer service takes no extended-length path.
    std::wstring full;
    if (!ReadFullPath(path, full))
        full = path;
    if (full.size() >= MAX_PATH)
        return L"cannot read the patch: " + ErrorWords(ERROR_FILENAME_EXCED_RANGE) +
               L": the installer service reads a patch only at a full path of fewer than " +
               std::to_wstring(MAX_PATH) + L" characters, and this one has " +
               std::to_wstring(full.size()) + L"; copy it to a shorter path.";
    CLSID rootClass = {};
    if (!kit::ReadRootClass(path, rootClass))
        return NotCompoundFile;
    if (!IsEqualCLSID(rootClass, kit::PatchClass))
        return L"not a Windows Installer patch package: its root storage has the class " +
               kit::GuidText(rootClass) + L", not the patch class " +
               kit::GuidText(kit::PatchClass) + L".";
    const std::wstring missing = MissingStreams(path);
    if (!missing.empty())
        return L"not a Windows Installer patch package that the installer service can read: its "
               L"root storage has no " +
               missing + L".";
    {
        MsiHandleHolder summary(OpenPatchSummary(path));
        if (!summary)
            return L"not a Windows Installer patch package: the installer service cannot read "
                   L"its summary information.";
    }
    std::wstring upgrade, targets, keywords;
    SetLastError(ERROR_SUCCESS);
    if (ReadPatchVersions(path, upgrade, targets))
        keywords = upgrade + L";" + targets;
    else if (GetLastError() == ERROR_RESOURCE_NOT_PRESENT)
        keywords = RawSummaryText(path, installer::PropertyKeywords);
    else
        return L"PID_KEYWORDS (Keywords) cannot be read as text. " + std::wstring(KeywordsForm) +
               StampAdvice;
    const std::wstring keywordsProblem = KeywordsProblem(keywords);
    if (!keywordsProblem.empty())
        return keywordsProblem + StampAdvice;
    facts.upgradeVersion = upgrade;
    facts.targetVersions = targets;
    facts.smallUpdate = IsSmallUpdate(upgrade, targets);
    if (!ReadPatchProducts(path, facts.products))
        return L"PID_TEMPLATE (Template) cannot be read as text. " + std::wstring(TemplateForm);
    const std::wstring productsProblem = CheckProducts(facts.products);
    if (!productsProblem.empty())
        return productsProblem;
    ReadPatchCode(path, facts.patchCode);
    facts.removal = ReadRemovalFacts(path);
    return PatchCodeProblem(keywords, RawSummaryText(path, installer::PropertyRevNumber));
}

bool InspectLauncher(const std::wstring& path, LauncherFacts& facts, std::wstring& error) {
    const LoadedModule launcher(LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!launcher) {
        error = L"not a launcher: it cannot be read as a Windows program (error " +
                std::to_wstring(GetLastError()) + L").";
        return false;
    }
    const HRSRC resource = FindResourceW(launcher.get(), PayloadResourceName, PayloadResourceType);
    const HGLOBAL loaded = resource ? LoadResource(launcher.get(), resource) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = resource ? SizeofResource(launcher.get(), resource) : 0;
    if (bytes == nullptr) {
        error = L"not a launcher: it carries no embedded patch (resource MSP/IDR_MSP).";
        return false;
    }
    facts.payloadSize = size;
    if (!Sha256(bytes, size, facts.payloadSha256)) {
        error = L"the SHA-256 of the embedded patch cannot be computed.";
        return false;
    }
    facts.signatureFound = HasAuthenticodeSignature(path);
    const TemporaryCopy copy(bytes, size);
    if (!copy.written()) {
        error = L"the embedded patch cannot be written to a temporary file: " +
                ErrorWords(GetLastError()) + L".";
        return false;
    }
    facts.patchProblem = CheckPatchPackage(copy.path(), facts.patch);
    kit::ReadTransformPlatforms(copy.path(), facts.platforms);
    return true;
}

} // namespace kit
