// Packing: a launcher made from the launcher stub (PatchLauncher.exe as
// linked, with its manifest and the project's catalogue and no patch) and a
// patch, with the maker's names in message 307. The resource section is
// written here, not through the platform's resource updates, so that the
// same stub, patch and names give the same bytes wherever they are packed.
#pragma once

#include "kit/catalogue_brand.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kit {

// The stub's file name; "patchkit pack" looks for it beside itself.
constexpr wchar_t StubFileName[] = L"PatchLauncher-stub.exe";

// The payload starts on a page boundary in the file and in the image, so that
// the loader can map it from the file instead of copying it.
constexpr std::uint32_t PageSize = 4096;

// The largest image Windows loads: "Executable images (both DLLs and EXEs)
// are restricted to a maximum size of 2 gigabytes" (Microsoft, x64 software
// conventions, "Image format").
constexpr std::uint64_t ImageSizeLimit = 0x80000000;

// The largest patch a launcher carries: 1.5 GiB, a margin of half a GiB below
// that limit. The loader maps the whole image into the lowest 2 GB of the
// address space, where the system's own DLLs take room too: images measured
// on Windows x64 stopped loading between 1.8 and 1.85 GB ("What is the
// maximum size of a PE file on 64-bit Windows?", Stack Overflow 6976693,
// Windows 7 SP1 x64), and a Windows Installer package is itself limited to
// 2 GB. Check and pack refuse a larger patch.
constexpr std::uint64_t MaximumPayloadSize = std::uint64_t(3) << 29; // 1,610,612,736 bytes

// Empty for a patch of `size` bytes that a launcher can carry; otherwise the
// refusal that check and pack give.
std::wstring PayloadSizeProblem(std::uint64_t size);

// Where the payload went in a packed launcher.
struct PackedLauncher {
    std::uint64_t payloadSize = 0;
    std::uint64_t payloadOffset = 0; // in the file, a multiple of PageSize
    std::uint32_t payloadRva = 0;    // in the image, a multiple of PageSize
    std::uint64_t imageSize = 0;     // SizeOfImage
    // What the pack did beside writing the launcher, for the user: files of
    // an earlier pack it removed, a file it could not clean away.
    std::vector<std::wstring> notes;
};

// The names of the files beside the output while a pack writes it: the new
// launcher until it is complete, and an earlier launcher while it is replaced.
constexpr wchar_t PartialSuffix[] = L".partial";
constexpr wchar_t PreviousSuffix[] = L".previous";

// How long a rename or delete that a scanner refuses (access denied, a
// sharing violation) is tried again, and the pause between tries.
constexpr DWORD FileStepRetryMs = 5000;
constexpr DWORD FileStepRetryPauseMs = 250;

// Writes to `output` a launcher whose resources are those of `stub`, with
// message 307 branded as `branding` says (BrandingProblem must be empty),
// and the file `patch`, byte for byte, as "MSP"/"IDR_MSP"/1033, in a
// resource section that is not writable. The launcher is written to
// "<output>.partial", which replaces `output` only when complete (renames
// that a scanner refuses for a moment are tried again for FileStepRetryMs).
// False, with `error` saying why, when `output` names the stub or the patch,
// a folder or a read-only file, the stub is no launcher stub (no 64-bit
// program with the catalogue, pages of 4096 bytes and its resources last but
// for its relocations), is signed or already carries a patch, the branding
// does not fit, the patch is larger than MaximumPayloadSize, `check` (when
// given) refuses the patch with a message, or the patch changed while it was
// copied; then no launcher is left and an earlier `output` is as it was.
// From before `check` reads the patch until it is copied, no one can write to
// it through Windows. The patch is streamed: the memory used does not grow
// with it. Every path may be longer than MAX_PATH.
using PatchCheck = std::function<std::wstring(const std::wstring& patch)>;
bool PackLauncher(const std::wstring& stub, const std::wstring& patch, const Branding& branding,
                  const std::wstring& output, const PatchCheck& check, PackedLauncher& packed,
                  std::wstring& error);

} // namespace kit
