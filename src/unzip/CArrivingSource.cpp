#include "unzip/CArrivingSource.h"

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Reads of 2 KiB each are served from one read of up to this much of the
// bytes already there: small, as it lives beside the download's buffers.
constexpr std::size_t kBufferSize = 64 * 1024;

struct Source {
    std::shared_ptr<const CFile> file;
    std::shared_ptr<CArrivingBytes> bytes;
    std::uint64_t position = 0;
    std::vector<char> buffer = std::vector<char>(kBufferSize);
    std::uint64_t bufferAt = 0;   // what the buffer holds: [bufferAt, bufferAt + held)
    std::size_t held = 0;
    zip_error_t error{};

    // All of `size` bytes at `at` into `out`, from the file.
    bool ReadFile(char* out, std::size_t size, std::uint64_t at) const
    {
        while (size > 0) {
            const long long n = file->ReadAt(out, size, at);
            if (n <= 0)
                return false;   // the file is shorter than the bytes said: never a short read
            out += n;
            size -= static_cast<std::size_t>(n);
            at += static_cast<std::uint64_t>(n);
        }
        return true;
    }

    zip_int64_t Read(void* data, zip_uint64_t length)
    {
        const std::uint64_t size = bytes->Size();
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - std::min(position, size)));
        if (n == 0)
            return 0;
        auto* out = static_cast<char*>(data);
        if (position < bufferAt || position + n > bufferAt + held) {
            // Bytes written again while they were read (their range taken
            // back meanwhile) are waited for and read once more.
            for (;;) {
                const std::uint64_t stamp = bytes->Stamp();
                std::uint64_t readyEnd = 0;
                switch (bytes->WaitFor(position, position + n, &readyEnd)) {
                case CArrivingBytes::Wait::Ready:
                    break;
                case CArrivingBytes::Wait::Stopped:
                    zip_error_set(&error, ZIP_ER_CANCELLED, 0);
                    return -1;
                case CArrivingBytes::Wait::Failed:
                    zip_error_set(&error, ZIP_ER_READ, 0);
                    return -1;
                }
                const bool direct = n >= buffer.size();
                // The buffer takes what is there from here on, at least what was asked.
                const auto fill =
                    direct ? n : static_cast<std::size_t>(std::min<std::uint64_t>(readyEnd - position, buffer.size()));
                held = 0;
                if (!ReadFile(direct ? out : buffer.data(), fill, position)) {
                    zip_error_set(&error, ZIP_ER_READ, 0);
                    return -1;
                }
                if (!bytes->Unchanged(stamp))
                    continue;
                if (direct) {
                    position += n;
                    return static_cast<zip_int64_t>(n);
                }
                bufferAt = position;
                held = fill;
                break;
            }
        }
        std::memcpy(out, buffer.data() + (position - bufferAt), n);
        position += n;
        return static_cast<zip_int64_t>(n);
    }

    zip_int64_t Seek(void* data, zip_uint64_t length)
    {
        const zip_int64_t to = zip_source_seek_compute_offset(position, bytes->Size(), data, length, &error);
        if (to < 0)
            return -1;
        position = static_cast<std::uint64_t>(to);
        return 0;
    }

    zip_int64_t Stat(void* data, zip_uint64_t length)
    {
        if (length < sizeof(zip_stat_t)) {
            zip_error_set(&error, ZIP_ER_INVAL, 0);
            return -1;
        }
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->size = bytes->Size();
        st->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }
};

zip_int64_t Callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* s = static_cast<Source*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        s->position = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return s->Read(data, length);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT:
        return s->Stat(data, length);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&s->error);
        delete s;
        return 0;
    case ZIP_SOURCE_SEEK:
        return s->Seek(data, length);
    case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(s->position);
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_SEEKABLE;
    default:
        zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

}   // namespace

zip_source_t* ArrivingSource::Create(std::shared_ptr<const CFile> file, std::shared_ptr<CArrivingBytes> bytes)
{
    if (!file || !file->IsOpen() || !bytes)
        return nullptr;
    auto state = std::make_unique<Source>(Source{std::move(file), std::move(bytes)});
    zip_error_init(&state->error);
    zip_source_t* source = zip_source_function_create(Callback, state.get(), nullptr);
    if (source)
        (void)state.release();   // freed by the source's ZIP_SOURCE_FREE
    else
        zip_error_fini(&state->error);
    return source;
}
