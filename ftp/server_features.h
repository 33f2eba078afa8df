// What a server offers beyond RFC 959, read from its FEAT reply (RFC 2389),
// and the texts of the hash commands that check a stored file: HASH
// (draft-bryan-ftp-hash) and the older XSHA256, XSHA1, XMD5 and XCRC. Pure
// text functions, no socket or window code.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ftp {

enum class HashAlgorithm { Sha256, Sha1, Md5, Crc32 };
// "SHA-256", "SHA-1", "MD5", "CRC32": the names HASH and FEAT use.
const char* hashAlgorithmName(HashAlgorithm algorithm);
// Hex digits of a digest: 64, 40, 32, 8.
std::size_t hashDigits(HashAlgorithm algorithm);

// How the server is asked for the hash of a stored file.
enum class HashCommand { None, Hash, XSha256, XSha1, XMd5, XCrc };
// The command word ("HASH", "XSHA256", ...; empty for None).
const char* hashCommandVerb(HashCommand command);

struct ServerFeatures {
    bool utf8 = false;
    bool restStream = false;                 // "REST STREAM": STOR may follow REST n
    // HASH's algorithms in the order listed, upper case, "*" removed; the
    // one marked "*" is what HASH answers with until OPTS HASH changes it.
    std::vector<std::string> hashAlgorithms;
    std::string hashSelected;
    bool xsha256 = false, xsha1 = false, xmd5 = false, xcrc = false;
};

// The features of a FEAT reply: its lines, the opening "211-" line first.
// Each feature line starts with a blank; names compare without regard to
// case. A refused FEAT (no "211-" line) offers nothing.
ServerFeatures featuresOf(const std::vector<std::string>& replyLines);
// Whether FEAT named any hash command. A server that names none may still
// answer the X commands (see probeFindsCommand).
bool listsHashCommand(const ServerFeatures& features);

// The hash check chosen for a server: the strongest algorithm it offers,
// HASH before the X command of the same algorithm. selectFirst: HASH gives
// another algorithm by default, so "OPTS HASH <name>" goes first.
struct HashMethod {
    HashCommand command = HashCommand::None;
    HashAlgorithm algorithm = HashAlgorithm::Sha256;
    bool selectFirst = false;
};
HashMethod chooseHashMethod(const ServerFeatures& features);
// The X command of a probe answered (once per connection, without an
// argument, by a server whose FEAT names none): 501 (an argument is
// missing), 550 or a success code mean the command is known; 500, 502 and
// 504 (or anything else) that it is not.
bool probeFindsCommand(int code);
// The method an X command stands for.
HashMethod methodOfCommand(HashCommand command);

// The digest in the reply to a hash command, as lower-case hex. HASH:
// "213 SHA-256 0-N <hex> name", the algorithm asked and a range from 0.
// The X commands: any 2xx code, the last word that is a digest of the
// algorithm's length (a CRC may have dropped its leading zeros). Empty when
// the reply carries none.
std::optional<std::string> hashInReply(const HashMethod& method, int code, const std::string& line);

// How long the reply to a hash command may take: servers read the file
// again at ten MB/s or more, so 15 s plus one second per 10 MB.
std::uint32_t hashReplyBoundMs(std::int64_t fileSize);

} // namespace ftp
