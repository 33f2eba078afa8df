#include "ftp/local_hash.h"

#include <bcrypt.h>

#include <algorithm>
#include <mutex>

namespace ftp {
namespace {

using Crc32Function = DWORD(WINAPI*)(DWORD crc, const BYTE* data, DWORD size);

// The CRC of ntdll, the one of zip and XCRC (its state is the CRC so far).
Crc32Function crc32Function()
{
    static const Crc32Function f = reinterpret_cast<Crc32Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlComputeCrc32")));
    return f;
}

// One CNG provider per algorithm, opened on first use and kept for the
// process: opening one costs more than hashing a small file.
class Providers {
public:
    ~Providers()
    {
        for (BCRYPT_ALG_HANDLE h : handles_)
            if (h) BCryptCloseAlgorithmProvider(h, 0);
    }
    BCRYPT_ALG_HANDLE get(HashAlgorithm algorithm)
    {
        static const LPCWSTR kIds[] = {BCRYPT_SHA256_ALGORITHM, BCRYPT_SHA1_ALGORITHM, BCRYPT_MD5_ALGORITHM};
        const auto i = std::size_t(algorithm);
        if (i >= 3) return nullptr;
        std::lock_guard<std::mutex> lock(mutex_);  // digests are made on any thread
        if (!handles_[i] && BCryptOpenAlgorithmProvider(&handles_[i], kIds[i], nullptr, 0) != 0)
            handles_[i] = nullptr;
        return handles_[i];
    }

private:
    std::mutex mutex_;
    BCRYPT_ALG_HANDLE handles_[3] = {};
};

Providers& providers()
{
    static Providers p;
    return p;
}

DWORD objectLength(BCRYPT_ALG_HANDLE provider)
{
    DWORD length = 0, got = 0;
    if (BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&length), sizeof length, &got,
                          0) != 0)
        return 0;
    return length;
}

std::string hexOf(const unsigned char* bytes, std::size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

} // namespace

// ---- LocalHash ---------------------------------------------------------------

LocalHash::LocalHash(HashAlgorithm algorithm) : algorithm_(algorithm)
{
    if (algorithm == HashAlgorithm::Crc32) {
        valid_ = crc32Function() != nullptr;
        return;
    }
    BCRYPT_ALG_HANDLE provider = providers().get(algorithm);
    if (!provider) return;
    object_.resize(objectLength(provider));
    BCRYPT_HASH_HANDLE h = nullptr;
    if (object_.empty() ||
        BCryptCreateHash(provider, &h, object_.data(), ULONG(object_.size()), nullptr, 0, 0) != 0)
        return;
    hash_ = h;
    valid_ = true;
}

LocalHash::~LocalHash() { release(); }

void LocalHash::release()
{
    if (hash_) BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(hash_));
    hash_ = nullptr;
    valid_ = false;
}

LocalHash::LocalHash(LocalHash&& other) noexcept { *this = std::move(other); }

LocalHash& LocalHash::operator=(LocalHash&& other) noexcept
{
    if (this == &other) return *this;
    release();
    // The handle lives in the object memory it was given; moving the vector
    // keeps that memory where it is.
    algorithm_ = other.algorithm_;
    valid_ = other.valid_;
    hash_ = other.hash_;
    object_ = std::move(other.object_);
    crc_ = other.crc_;
    other.hash_ = nullptr;
    other.valid_ = false;
    return *this;
}

bool LocalHash::add(const void* data, std::size_t size)
{
    if (!valid_) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ULONG part = ULONG(std::min<std::size_t>(size, 1u << 30));
        if (algorithm_ == HashAlgorithm::Crc32) {
            crc_ = crc32Function()(crc_, bytes, part);
        } else if (BCryptHashData(static_cast<BCRYPT_HASH_HANDLE>(hash_), const_cast<PUCHAR>(bytes), part, 0) != 0) {
            release();
            return false;
        }
        bytes += part;
        size -= part;
    }
    return true;
}

LocalHash LocalHash::copy() const
{
    LocalHash c;
    c.algorithm_ = algorithm_;
    if (!valid_) return c;
    if (algorithm_ == HashAlgorithm::Crc32) {
        c.crc_ = crc_;
        c.valid_ = true;
        return c;
    }
    c.object_.resize(object_.size());
    BCRYPT_HASH_HANDLE h = nullptr;
    if (BCryptDuplicateHash(static_cast<BCRYPT_HASH_HANDLE>(hash_), &h, c.object_.data(), ULONG(c.object_.size()),
                            0) != 0)
        return c;
    c.hash_ = h;
    c.valid_ = true;
    return c;
}

std::string LocalHash::hex() const
{
    if (!valid_) return {};
    if (algorithm_ == HashAlgorithm::Crc32) {
        const unsigned char bytes[4] = {static_cast<unsigned char>(crc_ >> 24), static_cast<unsigned char>(crc_ >> 16),
                                        static_cast<unsigned char>(crc_ >> 8), static_cast<unsigned char>(crc_)};
        return hexOf(bytes, 4);
    }
    // Finishing ends a digest: a copy is finished, this one goes on.
    LocalHash end = copy();
    if (!end) return {};
    unsigned char digest[64];
    const ULONG size = ULONG(hashDigits(algorithm_) / 2);
    if (BCryptFinishHash(static_cast<BCRYPT_HASH_HANDLE>(end.hash_), digest, size, 0) != 0) return {};
    return hexOf(digest, size);
}

// ---- the file and its digest as sent ---------------------------------------

FileIdentity identityOf(const std::string& path)
{
    FileIdentity id;
    id.path = path;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return id;
    id.size = (std::int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    id.written = data.ftLastWriteTime;
    return id;
}

void SentHash::clear()
{
    file_ = {};
    digest_ = LocalHash();
    position_ = 0;
    spacing_ = kFirstSpacing;
    marks_.clear();
    caughtUp_ = 0;
}

void SentHash::start(HashAlgorithm algorithm, const FileIdentity& file)
{
    clear();
    file_ = file;
    digest_ = LocalHash(algorithm);
}

bool SentHash::resumeAt(HashAlgorithm algorithm, const FileIdentity& file, std::int64_t offset, std::FILE* stream)
{
    if (!digest_ || !(file_ == file) || digest_.algorithm() != algorithm) start(algorithm, file);
    caughtUp_ = 0;
    if (!digest_) return false;
    // The nearest known digest at or below the offset: the running one, a
    // checkpoint, or the empty digest at byte 0. Every checkpoint of the
    // same file holds, whichever attempt made it.
    if (position_ > offset) {
        auto best = std::find_if(marks_.rbegin(), marks_.rend(), [&](const Mark& m) { return m.offset <= offset; });
        if (best != marks_.rend()) {
            digest_ = best->digest.copy();
            position_ = best->offset;
        } else {
            digest_ = LocalHash(algorithm);
            position_ = 0;
        }
        if (!digest_) return false;
    }
    if (_fseeki64(stream, position_, SEEK_SET) != 0) {
        digest_ = LocalHash();
        return false;
    }
    std::vector<char> buffer(std::size_t(256 * 1024));
    while (position_ < offset) {
        const std::size_t want = std::size_t(std::min<std::int64_t>(offset - position_, std::int64_t(buffer.size())));
        const std::size_t n = std::fread(buffer.data(), 1, want, stream);
        if (n == 0) {
            digest_ = LocalHash();
            return false;
        }
        caughtUp_ += std::int64_t(n);
        add(buffer.data(), n);
    }
    return static_cast<bool>(digest_);
}

void SentHash::add(const char* data, std::size_t size)
{
    while (size > 0 && digest_) {
        // Up to the next checkpoint position, so that checkpoints lie exactly
        // at multiples of the spacing.
        const std::int64_t toMark = spacing_ - position_ % spacing_;
        const std::size_t part = std::size_t(std::min<std::int64_t>(toMark, std::int64_t(size)));
        digest_.add(data, part);
        position_ += std::int64_t(part);
        data += part;
        size -= part;
        markIfDue();
    }
}

void SentHash::markIfDue()
{
    if (position_ % spacing_ != 0) return;
    auto at = std::lower_bound(marks_.begin(), marks_.end(), position_,
                               [](const Mark& m, std::int64_t offset) { return m.offset < offset; });
    if (at != marks_.end() && at->offset == position_) return;
    LocalHash mark = digest_.copy();
    if (!mark) return;
    marks_.insert(at, Mark{position_, std::move(mark)});
    if (marks_.size() <= kMaxMarks) return;
    spacing_ *= 2;
    marks_.erase(std::remove_if(marks_.begin(), marks_.end(), [&](const Mark& m) { return m.offset % spacing_ != 0; }),
                 marks_.end());
}

} // namespace ftp
