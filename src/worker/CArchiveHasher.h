#pragma once
#include "platform/CFile.h"
#include "worker/CReleaseSignature.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Hashes an archive while it is being downloaded: on a thread of its own it
// reads back, from the page cache, the bytes that are on disk from the first
// one on, as far as `ready` says, so each byte is hashed once whichever
// connection brought it and the hash is mostly done when the download ends.
// Ending the object stops the thread after the piece in hand; the rest is
// for HashRest.
class CArchiveHasher {
public:
    // `ready` (asked on the hasher's thread) tells how many bytes from the
    // first are on disk in `file`; both must outlive the object.
    CArchiveHasher(CReleaseSignature& signature, const CFile& file, std::function<std::uint64_t()> ready);
    ~CArchiveHasher();
    CArchiveHasher(const CArchiveHasher&) = delete;
    CArchiveHasher& operator=(const CArchiveHasher&) = delete;

    // Hashes `file` from where `signature` stands to its end, on the
    // caller's thread. False when a read fails or `stop` answers true.
    static bool HashRest(CReleaseSignature& signature, const CFile& file, const std::function<bool()>& stop);

private:
    void Follow();

    CReleaseSignature& m_signature;
    const CFile& m_file;
    const std::function<std::uint64_t()> m_ready;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;   // under m_lock
    std::thread m_thread;
};
