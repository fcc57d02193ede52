// What the kit reads and writes of a patch package: an OLE compound file with
// the patch class, its summary-information properties and its streams under
// the installer's compressed names.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kit {

// Summary property identifiers.
constexpr UINT PropertyCodepage = 1;      // PID_CODEPAGE, VT_I2
constexpr UINT PropertyTitle = 2;         // PID_TITLE
constexpr UINT PropertySubject = 3;       // PID_SUBJECT
constexpr UINT PropertyAuthor = 4;        // PID_AUTHOR
constexpr UINT PropertyKeywords = 5;      // PID_KEYWORDS
constexpr UINT PropertyComments = 6;      // PID_COMMENTS
constexpr UINT PropertyTemplate = 7;      // PID_TEMPLATE
constexpr UINT PropertyLastAuthor = 8;    // PID_LASTAUTHOR
constexpr UINT PropertyRevNumber = 9;     // PID_REVNUMBER
constexpr UINT PropertyCreateTime = 12;   // PID_CREATE_DTM, VT_FILETIME
constexpr UINT PropertyLastSaveTime = 13; // PID_LASTSAVE_DTM, VT_FILETIME
constexpr UINT PropertyPageCount = 14;    // PID_PAGECOUNT, VT_I4
constexpr UINT PropertyWordCount = 15;    // PID_WORDCOUNT, VT_I4
constexpr UINT PropertyCharCount = 16;    // PID_CHARCOUNT, VT_I4
constexpr UINT PropertyAppName = 18;      // PID_APPNAME
constexpr UINT PropertySecurity = 19;     // PID_SECURITY, VT_I4

// {000C1086-0000-0000-C000-000000000046}
extern const CLSID PatchClass;
// {000C1082-0000-0000-C000-000000000046}
extern const CLSID TransformClass;

// The installer's stream-name compression: characters of [0-9A-Za-z._] go
// two to a character from U+3800, or one to a character from U+4800; a table
// name starts with U+4840.
std::wstring EncodeStreamName(const std::wstring& name, bool isTable);

// True for a GUID text in the 38-character registry form, upper-case digits.
bool IsRegistryGuid(const std::wstring& text);

// True for one to four parts of decimal digits joined by ".", each part at
// most 65535 (a version number keeps 16 bits per part).
bool IsDottedVersion(const std::wstring& text);

// The class ID of the root storage of the compound file at `path`; false when
// it is not a compound file that can be opened for reading.
bool ReadRootClass(const std::wstring& path, CLSID& rootClass);

// The stored names of the streams in the root storage of the compound file
// at `path`; false when it cannot be opened for reading.
bool ReadRootStreamNames(const std::wstring& path, std::vector<std::wstring>& names);

// The refusal of a file that does not start with a compound file's header.
constexpr wchar_t NotCompoundFile[] =
    L"not a Windows Installer patch package: it cannot be opened as a compound file.";

// Empty when `file` (open for reading, `size` bytes) holds a whole compound
// file: a header in the file format's bounds, and every sector that its
// DIFAT, FAT, directory, mini FAT and mini stream name, and every stream up
// to its declared size, within the file, each sector used once. Otherwise
// one sentence: NotCompoundFile, "the patch is truncated: ..." for what lies
// beyond the end, or "the patch is damaged: ...". Reads the header and the
// tables only, never the streams' data.
std::wstring CompoundFileProblem(HANDLE file, std::uint64_t size);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case.
std::wstring GuidText(const GUID& guid);

} // namespace kit
