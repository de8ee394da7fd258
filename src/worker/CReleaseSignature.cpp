#include "worker/CReleaseSignature.h"

#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr std::size_t kHashBytes = crypto_generichash_BYTES_MAX;   // BLAKE2b-512, as minisign hashes
constexpr std::string_view kUntrusted = "untrusted comment: ";
constexpr std::string_view kTrusted = "trusted comment: ";

// The whole of `text` as standard base64 of exactly `size` bytes.
std::optional<std::vector<unsigned char>> Decode(std::string_view text, std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        length != size || end != text.data() + text.size())
        return std::nullopt;
    return bytes;
}

// The lines of a signature file, a carriage return before each line feed allowed.
std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

bool NamesFile(std::string_view comment, std::string_view fileName)
{
    for (;;) {
        const std::size_t tab = comment.find('\t');
        const std::string_view field = comment.substr(0, tab);
        if (field.starts_with("file:") && field.substr(5) == fileName)
            return true;
        if (tab == std::string_view::npos)
            return false;
        comment.remove_prefix(tab + 1);
    }
}

}   // namespace

CReleaseSignature::CReleaseSignature(std::string_view publicKey)
{
    while (!publicKey.empty() && (publicKey.back() == '\n' || publicKey.back() == '\r' || publicKey.back() == ' '))
        publicKey.remove_suffix(1);
    // "Ed", the key id, the Ed25519 key.
    const auto key = Decode(publicKey, 2 + m_keyId.size() + m_publicKey.size());
    if (sodium_init() < 0 || !key || (*key)[0] != 'E' || (*key)[1] != 'd')
        return;
    std::memcpy(m_keyId.data(), key->data() + 2, m_keyId.size());
    std::memcpy(m_publicKey.data(), key->data() + 2 + m_keyId.size(), m_publicKey.size());
    m_hasKey = true;
}

bool CReleaseSignature::Accept(std::string_view signatureFile, std::string_view fileName)
{
    m_accepted = false;
    Restart();
    const std::vector<std::string_view> lines = Lines(signatureFile);
    if (!m_hasKey || signatureFile.size() > kMaxFileSize || lines.size() < 4 || !lines[0].starts_with(kUntrusted) ||
        !lines[2].starts_with(kTrusted))
        return false;
    for (std::size_t i = 4; i < lines.size(); ++i)
        if (!lines[i].empty())
            return false;
    // "ED" (prehashed), the key id, the signature of the hash.
    const auto signature = Decode(lines[1], 2 + m_keyId.size() + m_signature.size());
    const auto global = Decode(lines[3], crypto_sign_BYTES);
    if (!signature || !global || (*signature)[0] != 'E' || (*signature)[1] != 'D' ||
        std::memcmp(signature->data() + 2, m_keyId.data(), m_keyId.size()) != 0)
        return false;
    std::memcpy(m_signature.data(), signature->data() + 2 + m_keyId.size(), m_signature.size());
    // The trusted comment is signed together with the signature, so neither
    // can be lifted onto another archive's file.
    const std::string_view comment = lines[2].substr(kTrusted.size());
    std::vector<unsigned char> signedText(m_signature.begin(), m_signature.end());
    signedText.insert(signedText.end(), comment.begin(), comment.end());
    if (!NamesFile(comment, fileName) ||
        crypto_sign_verify_detached(global->data(), signedText.data(), signedText.size(), m_publicKey.data()) != 0)
        return false;
    m_accepted = true;
    return true;
}

std::string CReleaseSignature::KeyId() const
{
    // minisign shows the id as a little-endian number; any fixed spelling would do.
    std::string text(m_keyId.size() * 2 + 1, '\0');
    sodium_bin2hex(text.data(), text.size(), m_keyId.data(), m_keyId.size());
    text.pop_back();
    return text;
}

void CReleaseSignature::Restart()
{
    crypto_generichash_init(&m_hash, nullptr, 0, kHashBytes);
    m_hashed = 0;
}

void CReleaseSignature::Update(const void* data, std::size_t size)
{
    crypto_generichash_update(&m_hash, static_cast<const unsigned char*>(data), size);
    m_hashed += size;
}

bool CReleaseSignature::Verify()
{
    std::array<unsigned char, kHashBytes> hash{};
    crypto_generichash_final(&m_hash, hash.data(), hash.size());
    const bool valid = m_accepted && crypto_sign_verify_detached(m_signature.data(), hash.data(), hash.size(),
                                                                 m_publicKey.data()) == 0;
    m_accepted = false;
    return valid;
}
