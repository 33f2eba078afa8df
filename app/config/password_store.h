// The stored forms of a configuration's FTP password (key "Password").
//
// Written: the password encrypted by Windows for the current user
// (CryptProtectData, no user interface), as the base64 text of the blob. It
// takes any length and any character; another user, or the same user on
// another machine, cannot decrypt it.
//
// Read: that form, or the older scrambled form (scramble.h), which files
// written before still hold. The length tells them apart: the scrambled
// form was never longer than 35 characters (longer passwords were stored as
// "toolong"), while a blob's fixed header alone is longer than that in
// base64. A value longer than 35 characters that does not decrypt (another
// user's, another machine's, damaged) reads as an empty password marked
// unreadable.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace app {

enum class PasswordForm { Scrambled, Protected };

// Values of up to this many characters are scrambled ones.
constexpr std::size_t kLongestScrambledForm = 35;

PasswordForm passwordFormOf(std::string_view stored);

// Base64 (RFC 4648, with padding, no line breaks). Decoding accepts only
// that: anything else (other characters, a length that is no multiple of 4,
// padding inside) gives nothing.
std::string base64Encode(std::string_view bytes);
std::optional<std::string> base64Decode(std::string_view text);

struct StoredPassword {
    std::string password;
    bool readable = true;  // false: a protected form that did not decrypt
};

// The password of a stored value (either form).
StoredPassword readStoredPassword(const std::string& stored);

// The protected form of a password; nothing when Windows refuses to encrypt.
std::optional<std::string> protectPassword(const std::string& password);

} // namespace app
