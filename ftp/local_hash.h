// Digests of local bytes by Windows itself: SHA-256, SHA-1 and MD5 through
// CNG (bcrypt), CRC32 through ntdll's RtlComputeCrc32 (the CRC of XCRC and
// of zip). No hash code of our own.
//
// SentHash is the digest of a file's bytes in the order an upload sends
// them. It keeps checkpoints (copies of the digest at byte positions), so
// that a later attempt that continues the server's partial copy at byte n
// needs to read locally only the bytes between the checkpoint below n and
// n, not the whole start of the file again.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ftp/server_features.h"

namespace ftp {

// One running digest. Move-only; empty (false) when Windows could not give
// the algorithm.
class LocalHash {
public:
    LocalHash() = default;
    explicit LocalHash(HashAlgorithm algorithm);
    ~LocalHash();
    LocalHash(LocalHash&& other) noexcept;
    LocalHash& operator=(LocalHash&& other) noexcept;
    LocalHash(const LocalHash&) = delete;
    LocalHash& operator=(const LocalHash&) = delete;

    explicit operator bool() const { return valid_; }
    HashAlgorithm algorithm() const { return algorithm_; }
    // False when Windows refused the bytes (the digest is then unusable).
    bool add(const void* data, std::size_t size);
    // An independent copy of the digest so far.
    LocalHash copy() const;
    // The digest of the bytes so far as lower-case hex (the digest itself
    // goes on); empty when it cannot be had.
    std::string hex() const;

private:
    void release();

    HashAlgorithm algorithm_ = HashAlgorithm::Sha256;
    bool valid_ = false;
    void* hash_ = nullptr;               // BCRYPT_HASH_HANDLE
    std::vector<unsigned char> object_;  // the hash object's memory (CNG asks the caller for it)
    std::uint32_t crc_ = 0;
};

// The file an upload sends, as far as the digest can tell: a changed file
// (size or last write) starts a new digest.
struct FileIdentity {
    std::string path;
    std::int64_t size = -1;
    FILETIME written{};
    bool operator==(const FileIdentity& o) const
    {
        return path == o.path && size == o.size && written.dwLowDateTime == o.written.dwLowDateTime &&
               written.dwHighDateTime == o.written.dwHighDateTime;
    }
};
// The identity of a local file now; size -1 when it cannot be read.
FileIdentity identityOf(const std::string& path);

class SentHash {
public:
    // A new digest of `file` from its first byte.
    void start(HashAlgorithm algorithm, const FileIdentity& file);
    // Continues the digest of the same file at byte `offset`, which `stream`
    // is positioned at on return: from the checkpoint at or below it, the
    // bytes in between read from `stream` once. False (and no digest) when
    // the digest cannot be had.
    bool resumeAt(HashAlgorithm algorithm, const FileIdentity& file, std::int64_t offset, std::FILE* stream);
    // Bytes handed to the connection, in order, from position() on.
    void add(const char* data, std::size_t size);
    void clear();

    bool active() const { return static_cast<bool>(digest_); }
    HashAlgorithm algorithm() const { return digest_.algorithm(); }
    std::int64_t position() const { return position_; }
    const FileIdentity& file() const { return file_; }
    // The digest of the bytes added so far; empty when there is none.
    std::string hex() const { return digest_ ? digest_.hex() : std::string(); }
    // Bytes read locally by the last resumeAt (the bench and tests read it).
    std::int64_t caughtUp() const { return caughtUp_; }
    std::size_t checkpoints() const { return marks_.size(); }

    // Checkpoints lie at multiples of a spacing that starts at 1 MiB and
    // doubles whenever kMaxMarks are held (every other one is dropped), so
    // a resume reads at most one spacing: 1 MiB for files up to 32 MiB, a
    // 64th of what was sent beyond that.
    static constexpr std::int64_t kFirstSpacing = 1 << 20;
    static constexpr std::size_t kMaxMarks = 32;

private:
    struct Mark {
        std::int64_t offset;
        LocalHash digest;
    };
    void markIfDue();

    FileIdentity file_;
    LocalHash digest_;
    std::int64_t position_ = 0;
    std::int64_t spacing_ = kFirstSpacing;
    std::vector<Mark> marks_;
    std::int64_t caughtUp_ = 0;
};

} // namespace ftp
