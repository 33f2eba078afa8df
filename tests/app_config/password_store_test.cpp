// Stored password forms: older scrambled values, Windows-protected blobs of
// every length and character, damaged blobs, and the base64 beneath.
#include "app/config/password_store.h"
#include "app/config/scramble.h"
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using app::PasswordForm;

// Every printable character of code page 1252: 0x20-0x7E and the assigned
// characters from 0x80 on (0x81, 0x8D, 0x8F, 0x90 and 0x9D are unassigned).
std::string printable1252()
{
    std::string s;
    for (int c = 0x20; c <= 0xFF; ++c) {
        if (c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) continue;
        s += static_cast<char>(c);
    }
    return s;
}

std::string sealed(const std::string& password)
{
    const std::optional<std::string> s = app::protectPassword(password);
    EXPECT_TRUE(s.has_value()) << password;
    return s.value_or("");
}

TEST(PasswordBase64, EncodesAndDecodesTheStandardForm)
{
    const struct { std::string bytes; const char* text; } rows[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {std::string("\x00\xFF\xFE", 3), "AP/+"}, {std::string("\xFB\xEF\xBE", 3), "++++"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(app::base64Encode(r.bytes), r.text);
        EXPECT_EQ(app::base64Decode(r.text), r.bytes) << r.text;
    }
    for (const char* bad : {"Zg=", "Z===", "====", "Zg==Zg==", "Zm9v YmFy", "Zm9*", "Zm=v", "Zm9v\r\n", " Zm9v"})
        EXPECT_FALSE(app::base64Decode(bad).has_value()) << bad;
}

// Values the older program wrote read as they always did, and any value up
// to 35 characters counts as one of them.
TEST(PasswordStore, ScrambledValuesReadAsBefore)
{
    const struct { std::string stored; const char* password; } rows[] = {
        {"", ""},
        {" 76TJbLe", "Yellow42"},
        {app::scramble("Wasabi"), "Wasabi"},
        {app::scramble("Mein Pass 1"), "Mein Pass 1"},
        {app::scramble("toolong"), "toolong"},
        {app::scramble("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghi"), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghi"},
        // Base64 characters only, yet short: still the scrambled form.
        {"QUJD", app::unscramble("QUJD").c_str()},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE("[" + r.stored + "]");
        EXPECT_EQ(app::passwordFormOf(r.stored), PasswordForm::Scrambled);
        const app::StoredPassword p = app::readStoredPassword(r.stored);
        EXPECT_TRUE(p.readable);
        EXPECT_EQ(p.password, r.password);
    }
    EXPECT_EQ(app::passwordFormOf(std::string(35, 'A')), PasswordForm::Scrambled);
    EXPECT_EQ(app::passwordFormOf(std::string(36, 'A')), PasswordForm::Protected);
}

// Lengths 0 to 200 over every printable character, and each character at
// both ends: the stored text is base64 only, longer than any scrambled
// form, and reads back exactly.
TEST(PasswordStore, ProtectedFormsReadBackExactly)
{
    const std::string chars = printable1252();
    ASSERT_EQ(chars.size(), 95u + 123u);
    std::vector<std::string> passwords;
    for (std::size_t length = 0; length <= 200; ++length) {
        std::string p;
        for (std::size_t i = 0; i < length; ++i) p += chars[(i * 7 + length) % chars.size()];
        passwords.push_back(p);
    }
    for (char c : chars) passwords.push_back(std::string(1, c) + "mitte" + c);
    passwords.push_back(chars);
    passwords.push_back("Pa$$w0rd'\"\\`~{}|^%!44-Zeichen-aus-dem-Passwortmanager");

    int failures = 0;
    for (const std::string& password : passwords) {
        const std::string stored = sealed(password);
        const app::StoredPassword back = app::readStoredPassword(stored);
        const bool ok = stored.size() > app::kLongestScrambledForm &&
                        app::passwordFormOf(stored) == PasswordForm::Protected &&
                        stored.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") ==
                            std::string::npos &&
                        back.readable && back.password == password;
        if (!ok && ++failures <= 5)
            ADD_FAILURE() << "[" << password << "] stored as [" << stored << "] reads [" << back.password << "]";
    }
    EXPECT_EQ(failures, 0) << "of " << passwords.size();
}

// A value that does not decrypt reads as an empty password, marked so.
TEST(PasswordStore, DamagedOrForeignBlobsAreUnreadable)
{
    const std::string good = sealed("Geheim-Kennwort-7");
    ASSERT_TRUE(app::readStoredPassword(good).readable);
    // The encrypted bytes and the check value after them lie at the end.
    std::string flipped = *app::base64Decode(good);
    flipped[flipped.size() - 30] ^= 0x40;
    std::string lastByte = *app::base64Decode(good);
    lastByte.back() ^= 0x01;
    const struct { const char* what; std::string stored; } rows[] = {
        {"an encrypted byte changed", app::base64Encode(flipped)},
        {"the last byte changed", app::base64Encode(lastByte)},
        {"cut short", good.substr(0, good.size() - 8)},
        {"not base64", good.substr(0, 40) + " " + good.substr(41)},
        {"bytes that are no blob", app::base64Encode(std::string(120, '\x5A'))},
        {"36 characters of the scheme", std::string(36, 'A')},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const app::StoredPassword p = app::readStoredPassword(r.stored);
        EXPECT_FALSE(p.readable);
        EXPECT_EQ(p.password, "");
    }
}

} // namespace
