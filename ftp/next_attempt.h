// What a further attempt at the same file does, from what the attempts
// before it left on the server. Pure logic.
//
//   the copy on the server is not this run's own  -> from byte 0
//   every byte went out and nothing refuted them   -> check the copy first
//     (SIZE, and the hash where offered): exactly the file -> stored
//   REST STREAM offered, the copy shorter          -> REST n, STOR from n
//   a longer copy, a refused REST, a hash mismatch -> from byte 0
#pragma once
#include <cstdint>

namespace ftp {

// What the attempts at one file have left so far (the component keeps it).
struct AttemptRecord {
    // An attempt's STOR was taken (150/125): the server's copy was written
    // by this run, not left by anyone before it.
    bool ownCopy = false;
    // The last attempt that got to its data sent every byte, its end of the
    // stream, and the server closed after it.
    bool sentWhole = false;
    // The server said its copy is not the file: a failure reply to the
    // STOR after the data, or a SIZE of another size. Checking it again
    // would only hear the same.
    bool refuted = false;
    // A refused REST or a hash that did not match: no more continuing.
    bool noResume = false;
};

// Whether the copy on the server may already be the whole file: checked
// before anything is sent again.
bool worthChecking(const AttemptRecord& record);

// Whether the next attempt may continue the server's copy at all (its size
// then decides, see resumeOffset).
bool mayResume(const AttemptRecord& record, bool restStream);

// The byte the next attempt continues from (REST n); 0 for a new copy.
// serverSize is the SIZE of the server's copy, -1 when unknown.
std::int64_t resumeOffset(const AttemptRecord& record, bool restStream, std::int64_t serverSize,
                          std::int64_t localSize);

} // namespace ftp
