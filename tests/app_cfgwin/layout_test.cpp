// The configuration window's control table and help texts as data: the
// invariants the window relies on when it builds itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "app/config/config_layout.h"
#include "app/config/help_texts.h"

namespace {

using app::ControlKind;
using app::ControlRole;
using app::kConfigControls;

TEST(ConfigLayout, HelpButtonsRunTopToBottomAndNameEveryBoxOnce)
{
    std::set<int> numbers;
    int lastY = 0;
    for (const auto& c : kConfigControls) {
        if (c.kind != ControlKind::HelpButton)
            continue;
        EXPECT_GT(c.y, lastY);
        lastY = c.y;
        numbers.insert(c.help);
        EXPECT_EQ(std::string(c.text), "?");
    }
    EXPECT_EQ(numbers.size(), 16u);
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), 16);
}

TEST(ConfigLayout, EachFieldRoleHasExactlyOneControl)
{
    for (ControlRole role : {ControlRole::Selector, ControlRole::Name, ControlRole::Active, ControlRole::ServerName,
                             ControlRole::ServerPort, ControlRole::ServerDirectory, ControlRole::Username,
                             ControlRole::Password, ControlRole::ProxyServer, ControlRole::ProxyPort,
                             ControlRole::WWWName, ControlRole::WWWDirectory, ControlRole::KeepList,
                             ControlRole::DelClick, ControlRole::Passive, ControlRole::Clipboard, ControlRole::Ask,
                             ControlRole::DirSel, ControlRole::CheckAddress, ControlRole::Tls,
                             ControlRole::TrustedCertificate, ControlRole::RemoveTrust, ControlRole::Save,
                             ControlRole::Cancel, ControlRole::About,
                             ControlRole::Icon}) {
        const auto n = std::count_if(kConfigControls.begin(), kConfigControls.end(),
                                     [&](const auto& c) { return c.role == role; });
        EXPECT_EQ(n, 1) << static_cast<int>(role);
    }
    // The table is full: the last entry is the icon, not an empty slot.
    EXPECT_EQ(kConfigControls.back().kind, ControlKind::Icon);
}

TEST(ConfigLayout, EditLimitsAndOptions)
{
    struct Row { ControlRole role; int limit; unsigned flags; };
    const Row rows[] = {
        {ControlRole::Name, 20, app::EditPlain},
        {ControlRole::ServerDirectory, 255, app::EditPlain},
        {ControlRole::WWWDirectory, 255, app::EditPlain},
        {ControlRole::ServerPort, 0, app::EditDigits},
        {ControlRole::ProxyPort, 0, app::EditDigits},
        {ControlRole::Password, 0, app::EditPassword},
        {ControlRole::ServerName, 0, app::EditPlain},
    };
    for (const Row& r : rows) {
        const auto it = std::find_if(kConfigControls.begin(), kConfigControls.end(),
                                     [&](const auto& c) { return c.role == r.role; });
        ASSERT_NE(it, kConfigControls.end());
        EXPECT_EQ(it->kind, ControlKind::Edit);
        EXPECT_EQ(it->limit, r.limit) << static_cast<int>(r.role);
        EXPECT_EQ(it->editFlags, r.flags) << static_cast<int>(r.role);
    }
}

TEST(ConfigLayout, TextsAreCodePage1252)
{
    // "Über..." and "löschen" as single bytes, not UTF-8 sequences.
    const auto about = std::find_if(kConfigControls.begin(), kConfigControls.end(),
                                    [](const auto& c) { return c.role == ControlRole::About; });
    EXPECT_EQ(std::string(about->text), "\xDC" "ber...");
    EXPECT_EQ(std::string(app::kKeepEntries[0]), "Keine Dateien l\xF6schen");
}

TEST(HelpTexts, LineBreaksAreCrLfOnly)
{
    for (int k = 1; k <= app::kHelpCount; ++k) {
        const std::string text = app::helpText(k);
        ASSERT_FALSE(text.empty()) << k;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') {
                EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "help " << k;
            }
            if (text[i] == '\r') {
                EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "help " << k;
            }
        }
    }
    EXPECT_STREQ(app::helpText(0), "");
    EXPECT_STREQ(app::helpText(17), "");
    EXPECT_STREQ(app::helpText(11), "Falls Sie \xFC" "ber einen Proxy-Server online sind, geben Sie diesen hier an.");
}

// A control grown so that its caption fits never reaches over another one:
// no two rectangles of the table intersect, except the group box with its
// members and a drop-down list with what its open list covers.
TEST(ConfigLayout, NoControlOverlapsAnother)
{
    constexpr int kClosedDropListHeight = 21;
    struct Box {
        int left, top, right, bottom;
    };
    const auto& group = kConfigControls[0];
    ASSERT_EQ(group.kind, ControlKind::GroupBox);
    auto boxOf = [&](const app::ControlRow& c) {
        const int x = c.inGroup ? c.x + group.x : c.x;
        const int y = c.inGroup ? c.y + group.y : c.y;
        const int h = c.kind == ControlKind::DropList ? kClosedDropListHeight : c.h;
        return Box{x, y, x + c.w, y + h};
    };
    for (std::size_t i = 0; i < kConfigControls.size(); ++i) {
        const auto& a = kConfigControls[i];
        const Box ba = boxOf(a);
        // Every group member lies inside the group box.
        if (a.inGroup) {
            EXPECT_GE(ba.left, group.x) << a.text;
            EXPECT_LE(ba.right, group.x + group.w) << a.text;
            EXPECT_LE(ba.bottom, group.y + group.h) << a.text;
        }
        for (std::size_t j = i + 1; j < kConfigControls.size(); ++j) {
            const auto& b = kConfigControls[j];
            if (a.kind == ControlKind::GroupBox || b.kind == ControlKind::GroupBox)
                continue;
            const Box bb = boxOf(b);
            const bool apart = ba.right <= bb.left || bb.right <= ba.left || ba.bottom <= bb.top ||
                               bb.bottom <= ba.top;
            EXPECT_TRUE(apart) << "control " << i + 1 << " (" << a.text << ") and control " << j + 1 << " ("
                               << b.text << ")";
        }
    }
}

} // namespace
