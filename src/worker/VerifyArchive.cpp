#include "platform/CFtpFile.h"
#include "platform/FileUtil.h"
#include "worker/CArchiveHasher.h"
#include "worker/CKELDownloadThread.h"
#include "worker/CReleaseSignature.h"
#include "worker/Messages.h"
std::string CKELDownloadThread::FetchSignature(CFtpConnection& connection, const std::string& name, bool& found)
{
    // A refused file is a missing one; a broken connection throws as for any transfer.
    const std::unique_ptr<CFtpFile> file = connection.OpenFile(name);
    found = file != nullptr;
    if (!file)
        return {};
    std::string text(CReleaseSignature::kMaxFileSize + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const std::size_t n = file->Read(text.data() + got, text.size() - got);
        if (n == 0)
            break;
        got += n;
    }
    file->Close();   // cut when the file is longer than that
    text.resize(got);
    return text;
}

CKELDownloadThread::ArchiveFetch CKELDownloadThread::RefuseArchive(const std::string& name, const char* verdict)
{
    ForgetArchive();
    if (const CFileDescriptor folder = OpenFolderPath(m_downloadFolder, /*create=*/false); folder.IsOpen()) {
        bool held = false;
        for (const std::string& file : {name, name + ".part"}) {
            if (!RemoveUnlessLockedAt(folder.Get(), file))
                held = true;   // another running copy's download: its own check refuses it
        }
        if (!held)
            RemoveRegularFileAt(folder.Get(), name + ".part-state");
    }
    m_failure = name + " - " + verdict;
    SetText(m_pStatusText, m_failure);
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    return ArchiveFetch::Refused;
}

CKELDownloadThread::ArchiveFetch
CKELDownloadThread::FetchArchive(CFtpConnection& connection, const std::string& remoteName, std::uint64_t expectedSize)
{
    const auto downloaded = [&] {
        const bool ok = DownloadFile(connection, remoteName, expectedSize);
        return m_archiveInUse || m_writeFailed ? ArchiveFetch::Held : ok ? ArchiveFetch::Ready : ArchiveFetch::Failed;
    };
    if (m_settings.releaseKey.empty())
        return downloaded();

    // The signature comes first: a missing or foreign one costs no download.
    CReleaseSignature signature(m_settings.releaseKey);
    bool found = false;
    const std::string text = FetchSignature(connection, remoteName + ".minisig", found);
    if (!found)
        return RefuseArchive(remoteName, "Not Signed");
    if (!signature.Accept(text, remoteName))
        return RefuseArchive(remoteName, "Signature Not Valid");

    m_signature = &signature;
    const ArchiveFetch fetched = downloaded();
    m_signature = nullptr;
    if (fetched != ArchiveFetch::Ready)
        return fetched;
    // What the download's hasher had not reached yet (all of a complete copy
    // that was already there); a stop keeps the archive for the next run.
    if (!CArchiveHasher::HashRest(signature, m_archiveLock.Get(), [this] { return StopRequested(); })) {
        if (!StopRequested())
            m_failure = "cannot read " + remoteName;
        return ArchiveFetch::Failed;
    }
    return signature.Verify() ? ArchiveFetch::Ready : RefuseArchive(remoteName, "Signature Not Valid");
}
