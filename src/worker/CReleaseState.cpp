#include "worker/CReleaseState.h"

#include "platform/CFolder.h"

#include <sodium.h>

#include <charconv>
#include <string_view>

namespace {

constexpr std::string_view kHead = "VORN release-state 1\n";

std::string RecordName(const std::string& keyId)
{
    return "release-" + keyId;
}

std::string Hex(const PieceHash& hash)
{
    std::string text(hash.size() * 2 + 1, '\0');
    sodium_bin2hex(text.data(), text.size(), hash.data(), hash.size());
    text.pop_back();
    return text;
}

}   // namespace

std::optional<CReleaseState::Accepted> CReleaseState::Load(const std::string& keyId) const
{
    const CFolder folder = CFolder::OpenPath(m_folder, /*create=*/false);
    const CFile file = folder ? folder.OpenFile(RecordName(keyId), FileOpen::Read) : CFile();
    const std::optional<std::uint64_t> size = file ? file.RegularSize() : std::nullopt;
    if (!size || *size > 4096)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(*size), '\0');
    if (file.ReadAt(text.data(), text.size(), 0) != static_cast<long long>(text.size()) || !text.starts_with(kHead))
        return std::nullopt;
    // "serial <digits>\nlist <64 hex digits>\n"
    std::string_view rest = std::string_view(text).substr(kHead.size());
    Accepted accepted;
    if (!rest.starts_with("serial "))
        return std::nullopt;
    rest.remove_prefix(7);
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), accepted.serial);
    rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
    std::size_t length = 0;
    const char* hexEnd = nullptr;
    if (error != std::errc() || !rest.starts_with("\nlist ") || rest.size() != 6 + 64 + 1 || rest.back() != '\n' ||
        sodium_hex2bin(accepted.list.data(), accepted.list.size(), rest.data() + 6, 64, nullptr, &length, &hexEnd) !=
            0 ||
        length != accepted.list.size())
        return std::nullopt;
    return accepted;
}

std::string CReleaseState::Store(const std::string& keyId, const Accepted& accepted) const
{
    if (m_folder.empty())
        return "this system names no folder for it";
    const CFolder folder = CFolder::OpenPath(m_folder, /*create=*/true);
    if (!folder)
        return "cannot make or open " + m_folder;
    const std::string name = RecordName(keyId);
    // A temporary name of this process's own, so two copies never write into one file.
    const std::string temporary = name + "." + std::to_string(ProcessNumber()) + ".new";
    const std::string text =
        std::string(kHead) + "serial " + std::to_string(accepted.serial) + "\nlist " + Hex(accepted.list) + "\n";
    CFile file = folder.OpenFile(temporary, FileOpen::Replace, 0600);
    FileResult result = file.OpenResult();
    if (result.Ok())
        result = file.Write(text.data(), text.size());
    if (result.Ok())
        result = file.SyncData();
    if (result.Ok() && !file.Close())
        result = FileResult(FileResult::Kind::Other, 0);
    if (result.Ok())
        result = folder.Rename(temporary, name);
    if (!result.Ok()) {
        folder.RemoveFile(temporary);
        return "cannot write " + m_folder + name + ": " + result.Text();
    }
    // The rename itself is made durable; a failure here loses nothing yet written.
    (void)folder.Sync();
    return {};
}
