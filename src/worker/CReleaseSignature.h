#pragma once
#include <sodium.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A minisign signature of one file (the release list), checked against the
// publisher's public key with libsodium, in this order: the signature file's
// key id, its trusted comment (signed too) naming the file, the Ed25519
// signature of that comment, and the Ed25519 signature over the BLAKE2b-512
// hash of the file's bytes, which are handed over in order, once each. Only
// the prehashed form ("ED", what minisign writes by default) is taken.
class CReleaseSignature {
public:
    // The largest signature file taken: minisign's own limits on the two
    // comments (1 KiB and 8 KiB) with its base64 lines.
    static constexpr std::size_t kMaxFileSize = 10 * 1024;

    // `publicKey`: the line that `minisign -G` writes ("RW..."). Anything else
    // leaves the object without a key, and every signature is refused.
    explicit CReleaseSignature(std::string_view publicKey);

    bool HasKey() const { return m_hasKey; }
    // The key's id as 16 hex digits, which names what is kept per publisher key.
    std::string KeyId() const;
    // Takes the text of "<fileName>.minisig" and starts the hash afresh. False
    // when it is no prehashed signature by this key whose trusted comment
    // holds the field "file:<fileName>", or its global signature fails.
    bool Accept(std::string_view signatureFile, std::string_view fileName);
    // Starts the archive's hash again from its first byte.
    void Restart();
    void Update(const void* data, std::size_t size);
    // Bytes hashed since Accept or Restart.
    std::uint64_t Hashed() const { return m_hashed; }
    // Whether the bytes hashed are the ones signed; once per hash.
    bool Verify();

private:
    bool m_hasKey = false;
    bool m_accepted = false;
    std::array<unsigned char, 8> m_keyId{};
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> m_publicKey{};
    std::array<unsigned char, crypto_sign_BYTES> m_signature{};
    crypto_generichash_state m_hash{};
    std::uint64_t m_hashed = 0;
};
