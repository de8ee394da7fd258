#include "unzip/CArchiveReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t kWindow = 64 * 1024;

struct Window {
    std::uint64_t start = 0;
    std::size_t length = 0;
    unsigned age = 0;
    char data[kWindow];
};

struct Reader {
    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    bool failed = false;
    unsigned clock = 0;
    Window windows[2];

    // The window holding `at`, filled from the file when neither does.
    Window* WindowFor(std::uint64_t at)
    {
        for (Window& w : windows)
            if (w.length && at >= w.start && at < w.start + w.length) {
                w.age = ++clock;
                return &w;
            }
        Window& victim = windows[0].age <= windows[1].age ? windows[0] : windows[1];
        victim.start = at;
        victim.length = 0;
        ssize_t n;
        do
            n = pread(fd, victim.data, kWindow, static_cast<off_t>(at));
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            failed = n < 0;
            return nullptr;
        }
        victim.length = static_cast<std::size_t>(n);
        victim.age = ++clock;
        return &victim;
    }
};

voidpf Open(voidpf, const void* filename, int mode)
{
    if (!filename || (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    const int fd = open(static_cast<const char*>(filename), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    auto* r = (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ? new (std::nothrow) Reader : nullptr;
    if (!r) {
        close(fd);
        return nullptr;
    }
    r->fd = fd;
    r->size = static_cast<std::uint64_t>(st.st_size);
    return r;
}

uLong Read(voidpf, voidpf stream, void* buf, uLong size)
{
    auto* r = static_cast<Reader*>(stream);
    char* out = static_cast<char*>(buf);
    uLong done = 0;
    // Large reads bypass the windows; small ones are served from them.
    if (size >= kWindow) {
        while (done < size) {
            const ssize_t n = pread(r->fd, out + done, size - done, static_cast<off_t>(r->position));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                r->failed = n < 0;
                break;
            }
            done += static_cast<uLong>(n);
            r->position += static_cast<std::uint64_t>(n);
        }
        return done;
    }
    while (done < size) {
        Window* w = r->WindowFor(r->position);
        if (!w)
            break;
        const std::size_t offset = static_cast<std::size_t>(r->position - w->start);
        const std::size_t n = std::min<std::size_t>(size - done, w->length - offset);
        std::memcpy(out + done, w->data + offset, n);
        done += n;
        r->position += n;
    }
    return done;
}

uLong Write(voidpf, voidpf, const void*, uLong)
{
    return 0;   // read-only
}

ZPOS64_T Tell(voidpf, voidpf stream)
{
    return static_cast<Reader*>(stream)->position;
}

long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* r = static_cast<Reader*>(stream);
    std::uint64_t base = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = r->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = r->size; break;
    default: return -1;
    }
    const std::uint64_t target = base + offset;
    if (target < base || target > r->size)
        return -1;
    r->position = target;
    return 0;
}

int Close(voidpf, voidpf stream)
{
    auto* r = static_cast<Reader*>(stream);
    const int rc = close(r->fd);
    delete r;
    return rc;
}

int Error(voidpf, voidpf stream)
{
    return static_cast<Reader*>(stream)->failed ? 1 : 0;
}

} // namespace

zlib_filefunc64_def ArchiveReaderFunctions()
{
    zlib_filefunc64_def f{};
    f.zopen64_file = Open;
    f.zread_file = Read;
    f.zwrite_file = Write;
    f.ztell64_file = Tell;
    f.zseek64_file = Seek;
    f.zclose_file = Close;
    f.zerror_file = Error;
    f.opaque = nullptr;
    return f;
}
