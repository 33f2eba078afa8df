// Stored password forms: DPAPI blobs as base64, older scrambled texts.
#include "app/config/password_store.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdint>

#include "app/config/scramble.h"

namespace app {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Mixed into the encryption so that a blob of another program of the user
// does not decrypt as a Quillpost password, nor ours as theirs.
constexpr char kEntropy[] = "Quillpost FTP password";

int sextetOf(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

DATA_BLOB blobOf(std::string_view bytes)
{
    return {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

// The output blob of CryptProtectData / CryptUnprotectData, freed with
// LocalFree as both require.
struct LocalBlob {
    DATA_BLOB blob{};
    ~LocalBlob()
    {
        if (blob.pbData) {
            SecureZeroMemory(blob.pbData, blob.cbData);
            LocalFree(blob.pbData);
        }
    }
    std::string bytes() const { return std::string(reinterpret_cast<const char*>(blob.pbData), blob.cbData); }
};

} // namespace

PasswordForm passwordFormOf(std::string_view stored)
{
    return stored.size() <= kLongestScrambledForm ? PasswordForm::Scrambled : PasswordForm::Protected;
}

std::string base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= n ? kAlphabet[group >> (18 - 6 * k) & 63] : '=';
    }
    return out;
}

std::optional<std::string> base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool lastGroup = i + 4 == text.size();
        std::size_t padding = 0;
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int sextet = 0;
            if (c == '=' && lastGroup && k >= 2) {
                ++padding;
            } else {
                sextet = sextetOf(c);
                if (sextet < 0 || padding > 0) return std::nullopt;  // padding only at the very end
            }
            group = group << 6 | static_cast<std::uint32_t>(sextet);
        }
        for (std::size_t k = 0; k < 3 - padding; ++k)
            out += static_cast<char>(group >> (16 - 8 * k) & 0xFF);
    }
    return out;
}

StoredPassword readStoredPassword(const std::string& stored)
{
    if (passwordFormOf(stored) == PasswordForm::Scrambled) return {unscramble(stored), true};
    const std::optional<std::string> blob = base64Decode(stored);
    if (!blob) return {"", false};
    DATA_BLOB in = blobOf(*blob);
    DATA_BLOB entropy = blobOf(std::string_view(kEntropy, sizeof kEntropy - 1));
    LocalBlob plain;
    if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain.blob))
        return {"", false};
    return {plain.bytes(), true};
}

std::optional<std::string> protectPassword(const std::string& password)
{
    DATA_BLOB in = blobOf(password);
    DATA_BLOB entropy = blobOf(std::string_view(kEntropy, sizeof kEntropy - 1));
    LocalBlob sealed;
    if (!CryptProtectData(&in, L"Quillpost", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &sealed.blob))
        return std::nullopt;
    return base64Encode(sealed.bytes());
}

} // namespace app
