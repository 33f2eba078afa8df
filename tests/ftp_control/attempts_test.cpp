// Deciding on a further try, as tables: whether a failed sign-on may pass,
// and what the next attempt at a file does; the digests of local bytes
// (CNG and ntdll under the test) and continuing one at a checkpoint.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ftp/local_hash.h"
#include "ftp/next_attempt.h"
#include "ftp/sign_on_failure.h"

using namespace ftp;

TEST(SignOnFailure, PassingOrFinal)
{
    struct Row {
        const char* name;
        SignOnOutcome outcome;
        SignOnFailure kind;
    };
    const auto reply = [](int code, const std::string& line) {
        SignOnOutcome o;
        o.code = code;
        o.reply = line;
        return o;
    };
    const auto socketError = [](bool lookup, int error) {
        SignOnOutcome o;
        o.lookupFailed = lookup;
        o.socketError = error;
        o.code = 500;
        o.reply = "500 (Winsock error #" + std::to_string(error) + ")";
        return o;
    };
    SignOnOutcome refused = reply(500, "500 Connect: No Port Specified");
    refused.refused = true;
    SignOnOutcome untrusted = reply(500, "500 TLS: untrusted");
    untrusted.tls = TlsProblem::Untrusted;
    SignOnOutcome tlsRefused = reply(500, "500 AUTH not understood");
    tlsRefused.tls = TlsProblem::Refused;
    const Row rows[] = {
        {"greeted with 421", reply(421, "421 Too many connections"), SignOnFailure::Passing},
        {"450 to USER", reply(450, "450 Try later."), SignOnFailure::Passing},
        {"closed by the server", reply(426, "426 Connection closed by server."), SignOnFailure::Passing},
        {"no answer in time", reply(426, "426 Timeout"), SignOnFailure::Passing},
        {"wrong login", reply(530, "530 Login incorrect."), SignOnFailure::Final},
        {"USER refused", reply(500, "500 USER not understood"), SignOnFailure::Final},
        {"access denied", reply(550, "550 Not allowed."), SignOnFailure::Final},
        {"a reply that cannot be read", reply(2, "2\xff\xfe\x80 #%&"), SignOnFailure::Passing},
        {"a code out of range", reply(742, "742 junk"), SignOnFailure::Passing},
        {"a code glued to junk", reply(530, "530xyz"), SignOnFailure::Passing},
        {"four digits", reply(5300, "5300 no"), SignOnFailure::Passing},
        {"an answer out of place", reply(331, "331 Password required."), SignOnFailure::Passing},
        {"connection refused", socketError(false, WSAECONNREFUSED), SignOnFailure::Passing},
        {"connection reset", socketError(false, WSAECONNRESET), SignOnFailure::Passing},
        {"connect timed out", socketError(false, WSAETIMEDOUT), SignOnFailure::Passing},
        {"host unreachable", socketError(false, WSAEHOSTUNREACH), SignOnFailure::Passing},
        {"address not available", socketError(false, WSAEADDRNOTAVAIL), SignOnFailure::Final},
        {"name not found", socketError(true, WSAHOST_NOT_FOUND), SignOnFailure::Final},
        {"no address for the name", socketError(true, WSANO_DATA), SignOnFailure::Final},
        {"resolver says try again", socketError(true, WSATRY_AGAIN), SignOnFailure::Passing},
        {"a setting missing", refused, SignOnFailure::Final},
        {"certificate untrusted", untrusted, SignOnFailure::Final},
        {"AUTH TLS refused", tlsRefused, SignOnFailure::Final},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_STREQ(signOnFailureName(classifySignOn(r.outcome)), signOnFailureName(r.kind));
    }
}

TEST(SignOnFailure, WellFormedReplies)
{
    const std::pair<const char*, bool> rows[] = {
        {"220 ready", true}, {"220-Welcome", true}, {"530", true}, {"150 x", true}, {"559 x", true}, {"199 x", false},
        {"600 x", false}, {"260 x", false}, {"22 x", false}, {"2200 x", false}, {"220x", false},
        {"", false}, {"abc", false}, {"0ab", false},
    };
    for (const auto& [line, ok] : rows) {
        SCOPED_TRACE(line);
        EXPECT_EQ(wellFormedReply(line), ok);
    }
}

TEST(NextAttempt, CheckContinueOrStartAgain)
{
    struct Row {
        const char* name;
        AttemptRecord record;
        bool rest;
        std::int64_t serverSize;
        bool check;
        std::int64_t offset;
    };
    const std::int64_t local = 40000000;
    const AttemptRecord own{true, false, false, false};
    const AttemptRecord whole{true, true, false, false};
    const Row rows[] = {
        {"the copy is not this run's", {false, true, false, false}, true, 20000000, false, 0},
        {"cut half-way", own, true, 20000000, false, 20000000},
        {"cut, no REST STREAM", own, false, 20000000, false, 0},
        {"cut before any byte", own, true, 0, false, 0},
        {"SIZE unknown", own, true, -1, false, 0},
        {"a longer copy", own, true, 40000001, false, 0},
        {"a copy of the file's size", own, true, local, false, 0},
        {"every byte sent, no reply lost", whole, true, local, true, 0},
        {"every byte sent, the copy short", whole, true, 39000000, true, 39000000},
        {"every byte sent, then refused", {true, true, true, false}, true, 39000000, false, 39000000},
        {"REST refused or a hash mismatch", {true, true, false, true}, true, 20000000, false, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(worthChecking(r.record), r.check);
        EXPECT_EQ(resumeOffset(r.record, r.rest, r.serverSize, local), r.offset);
        EXPECT_EQ(mayResume(r.record, r.rest), r.record.ownCopy && !r.record.noResume && r.rest);
    }
}

TEST(LocalHash, KnownDigests)
{
    struct Row {
        HashAlgorithm algorithm;
        std::string bytes;
        std::string hex;
    };
    const Row rows[] = {
        {HashAlgorithm::Sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {HashAlgorithm::Sha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {HashAlgorithm::Sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {HashAlgorithm::Md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {HashAlgorithm::Md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {HashAlgorithm::Crc32, "abc", "352441c2"},
        {HashAlgorithm::Crc32, "", "00000000"},
        {HashAlgorithm::Crc32, "The quick brown fox jumps over the lazy dog", "414fa339"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(hashAlgorithmName(r.algorithm)) + " " + r.bytes);
        LocalHash whole(r.algorithm);
        ASSERT_TRUE(whole);
        whole.add(r.bytes.data(), r.bytes.size());
        EXPECT_EQ(whole.hex(), r.hex);
        // In pieces, through a copy taken half-way, and read twice.
        LocalHash pieces(r.algorithm);
        pieces.add(r.bytes.data(), r.bytes.size() / 2);
        LocalHash copy = pieces.copy();
        const std::string half = pieces.hex();
        copy.add(r.bytes.data() + r.bytes.size() / 2, r.bytes.size() - r.bytes.size() / 2);
        EXPECT_EQ(copy.hex(), r.hex);
        EXPECT_EQ(copy.hex(), r.hex);
        EXPECT_EQ(pieces.hex(), half);
        LocalHash moved = std::move(copy);
        EXPECT_EQ(moved.hex(), r.hex);
        EXPECT_FALSE(copy);
    }
}

namespace {

// A local file of pseudo-random bytes (different at every offset).
struct TempFile {
    std::string path;
    std::vector<char> bytes;
    explicit TempFile(std::size_t size, unsigned seed = 7)
    {
        char folder[MAX_PATH];
        GetTempPathA(sizeof folder, folder);
        path = std::string(folder) + "qp-sent-hash-" + std::to_string(seed) + ".bin";
        bytes.resize(size);
        unsigned x = seed;
        for (char& b : bytes) {
            x = x * 1103515245u + 12345u;
            b = char(x >> 16);
        }
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    ~TempFile() { DeleteFileA(path.c_str()); }
};

std::string digestOf(HashAlgorithm a, const std::vector<char>& bytes)
{
    LocalHash h(a);
    h.add(bytes.data(), bytes.size());
    return h.hex();
}

// Adds bytes [from, to) of the file as an upload hands them over.
void send(SentHash& sent, const TempFile& file, std::int64_t from, std::int64_t to)
{
    constexpr std::int64_t kBlock = 256 * 1024;
    for (std::int64_t at = from; at < to; at += kBlock)
        sent.add(file.bytes.data() + at, std::size_t(std::min(kBlock, to - at)));
}

} // namespace

// An attempt sent part of the file; the next continues at the server's
// size. The whole file's digest comes out, and only the bytes between the
// nearest checkpoint and the offset are read locally.
TEST(SentHash, ContinuesAtTheOffsetFromTheNearestCheckpoint)
{
    constexpr std::int64_t MiB = 1 << 20;
    const TempFile file(std::size_t(20 * MiB + 12345));
    const std::int64_t size = std::int64_t(file.bytes.size());
    const std::string whole = digestOf(HashAlgorithm::Sha256, file.bytes);
    struct Row {
        const char* name;
        std::int64_t sentBefore;  // bytes the first attempt handed over
        std::int64_t offset;      // the server's size
        std::int64_t readAtMost;
    };
    const Row rows[] = {
        {"the server has all that was sent", 10 * MiB + 777, 10 * MiB + 777, 0},
        {"bytes in flight lost", 10 * MiB + 777, 9 * MiB + 5000, MiB},
        {"exactly at a checkpoint", 12 * MiB, 5 * MiB, 0},
        {"just below a checkpoint", 12 * MiB, 5 * MiB - 1, MiB},
        {"within the first MiB", 12 * MiB, 1000, 1000},
        {"more than was sent (an older attempt's copy)", 3 * MiB, 4 * MiB + 10, MiB + 10},
        {"almost the whole file", size - 1, size - 1, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const FileIdentity id = identityOf(file.path);
        ASSERT_EQ(id.size, size);
        SentHash sent;
        sent.start(HashAlgorithm::Sha256, id);
        send(sent, file, 0, r.sentBefore);
        std::FILE* f = std::fopen(file.path.c_str(), "rb");
        ASSERT_TRUE(sent.resumeAt(HashAlgorithm::Sha256, id, r.offset, f));
        EXPECT_EQ(_ftelli64(f), r.offset);
        std::fclose(f);
        EXPECT_LE(sent.caughtUp(), r.readAtMost);
        EXPECT_EQ(sent.position(), r.offset);
        send(sent, file, r.offset, size);
        EXPECT_EQ(sent.hex(), whole);
    }
}

TEST(SentHash, CheckpointsThinOutAsTheFileGrowsAndAChangedFileStartsAgain)
{
    constexpr std::int64_t MiB = 1 << 20;
    const TempFile file(std::size_t(70 * MiB), 11);
    const std::int64_t size = std::int64_t(file.bytes.size());
    const FileIdentity id = identityOf(file.path);
    SentHash sent;
    sent.start(HashAlgorithm::Md5, id);
    send(sent, file, 0, size);
    // 70 checkpoints at 1 MiB would be too many: 35 at 2 MiB were too, so
    // 17 at 4 MiB are left.
    EXPECT_LE(sent.checkpoints(), SentHash::kMaxMarks);
    EXPECT_EQ(sent.checkpoints(), 17u);
    std::FILE* f = std::fopen(file.path.c_str(), "rb");
    ASSERT_TRUE(sent.resumeAt(HashAlgorithm::Md5, id, 67 * MiB + 3, f));
    EXPECT_EQ(sent.caughtUp(), 3 * MiB + 3);
    send(sent, file, 67 * MiB + 3, size);
    EXPECT_EQ(sent.hex(), digestOf(HashAlgorithm::Md5, file.bytes));

    // Another algorithm, or another file, cannot use what was kept: the
    // whole start is read.
    ASSERT_TRUE(sent.resumeAt(HashAlgorithm::Sha1, id, 2 * MiB, f));
    EXPECT_EQ(sent.caughtUp(), 2 * MiB);
    FileIdentity changed = id;
    changed.written.dwLowDateTime ^= 1;
    ASSERT_TRUE(sent.resumeAt(HashAlgorithm::Sha1, changed, 3 * MiB, f));
    EXPECT_EQ(sent.caughtUp(), 3 * MiB);
    // An offset beyond the end of the file cannot be caught up with.
    EXPECT_FALSE(sent.resumeAt(HashAlgorithm::Sha1, changed, size + 1, f));
    EXPECT_FALSE(sent.active());
    std::fclose(f);
}
