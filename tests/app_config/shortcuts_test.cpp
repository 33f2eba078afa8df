// The Send-To shortcut steps with real .lnk files in a real base folder and
// the Wine prefix's real Send-To folder.
#include "app/config/config_file.h"
#include "app/config/shortcuts.h"
#include "runtime/runtime.h"
#include "tests/support/runtime_host.h"
#include <gtest/gtest.h>
#include <cctype>

namespace {

using testhost::fileExists;

class Shortcuts : public testing::Test {
protected:
    void SetUp() override
    {
        sendTo = app::FindSendToFolder();
        ASSERT_FALSE(sendTo.empty());
        base = testhost::freshFolder("base") + "\\";
        app::state().baseFolder = base;
        app::state().iniPath = base + "Quillpost.ini";
        app::state().sendToFolder = sendTo;
        ini = app::state().iniPath;
        rt::setErrorLevel(0);
    }
    void TearDown() override
    {
        for (const std::string& path : created) testhost::removeFile(path);
    }
    // A shortcut file with some content (any content serves).
    std::string place(const std::string& folder, const std::string& name)
    {
        const std::string path = app::shortcutPath(folder, name);
        testhost::writeFile(path, "[shortcut " + name + "]");
        created.push_back(path);
        return path;
    }
    std::string at(const std::string& folder, const std::string& name)
    {
        const std::string path = app::shortcutPath(folder, name);
        created.push_back(path);
        return path;
    }
    void store(int n, const char* key, const std::string& value) { rt::iniWrite(ini, app::sectionName(n), key, value); }
    std::string stored(int n, const char* key) { return rt::iniRead(ini, app::sectionName(n), key); }
    std::vector<testhost::BoxWatcher::Box> boxesDuring(const std::function<void()>& step)
    {
        testhost::BoxWatcher watcher;
        step();
        return watcher.boxes();
    }

    std::string sendTo, base, ini;
    std::vector<std::string> created;
};

const std::string kDuplicateText =
    "Die Bezeichnung %s existiert schon!\r\n\r\nDie restlichen Daten werden aktualisiert und die alte "
    "Bezeichnung beibehalten.";

std::string duplicateText(const std::string& name)
{
    std::string text = kDuplicateText;
    return text.replace(text.find("%s"), 2, name);
}

TEST_F(Shortcuts, SendToFolderIsARealFolderWithoutTrailingSeparator)
{
    const DWORD attributes = GetFileAttributesA(sendTo.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_NE(sendTo.back(), '\\');
    EXPECT_NE(rt::lower(sendTo).find("sendto"), std::string::npos) << sendTo;
    EXPECT_EQ(app::shortcutPath("C:\\x", "Upload 3"), "C:\\x\\FTP - Upload 3.lnk");
    EXPECT_EQ(app::shortcutPath(base, "Upload 2").find("\\\\FTP - "), base.size() - 1)
        << "the base folder path keeps its doubled separator";
}

// One save's shortcut step: the files before, the configuration's stored
// name and activation, the step (activated?, new name), and afterwards the
// files there (under that name, letter case included) and gone, and the
// stored name. None of these shows a box or touches the error level.
struct Place {
    bool inSendTo;
    const char* name;
    bool empty = false;
};
struct Move {
    const char* what;
    int n;
    const char* storedName;  // nullptr: a configuration never saved
    const char* storedActive;
    std::vector<Place> before;
    bool active;
    const char* newName;
    std::vector<Place> there, gone;
    const char* nameAfter;
};

const Move kMoves[] = {
    {"activated: into Send-To", 2, "Upload 2", "0", {{false, "Upload 2"}}, true, "Upload 2",
     {{true, "Upload 2"}}, {{false, "Upload 2"}}, "Upload 2"},
    {"deactivated: back", 2, "Upload 2", "1", {{true, "Upload 2"}}, false, "Upload 2",
     {{false, "Upload 2"}}, {{true, "Upload 2"}}, "Upload 2"},
    {"active renamed in Send-To", 2, "Upload 2", "1", {{true, "Upload 2"}}, true, "Bilder",
     {{true, "Bilder"}}, {{true, "Upload 2"}}, "Bilder"},
    {"inactive renamed in the base folder", 4, "Upload 4", "0", {{false, "Upload 4"}}, false, "Texte",
     {{false, "Texte"}}, {{false, "Upload 4"}}, "Texte"},
    // The move onto an existing file fails and is ignored.
    {"an empty file of the new name is no duplicate", 2, "Upload 2", "1",
     {{true, "Upload 2"}, {true, "Leer", true}}, true, "Leer", {{true, "Upload 2"}}, {}, "Leer"},
    {"the duplicate test looks only into Send-To", 3, "Upload 3", "0",
     {{false, "Upload 3"}, {false, "Musik"}}, false, "Musik", {{false, "Upload 3"}, {false, "Musik"}}, {},
     "Musik"},
    {"activated and renamed: moved first, then renamed", 5, "Upload 5", "0", {{false, "Upload 5"}}, true,
     "Fotos", {{true, "Fotos"}}, {{false, "Upload 5"}, {true, "Upload 5"}}, "Fotos"},
    // The shortcut found under the new name is the configuration's own;
    // whether the file system changes the letter case in place is its own
    // affair, the shortcut must still be there.
    {"letter case, active", 6, "upload 6", "1", {{true, "upload 6"}}, true, "Upload 6",
     {{true, "Upload 6"}}, {}, "Upload 6"},
    {"letter case, inactive", 7, "bilder", "0", {{false, "bilder"}}, false, "Bilder", {{false, "Bilder"}}, {},
     "Bilder"},
    // The old name is empty: the move of "FTP - .lnk" fails silently.
    {"never saved", 8, nullptr, nullptr, {}, false, "Upload 8", {}, {}, "Upload 8"},
};

class ShortcutMoves : public Shortcuts, public testing::WithParamInterface<Move> {};

TEST_P(ShortcutMoves, FollowTheSave)
{
    const Move& m = GetParam();
    if (m.storedName) store(m.n, "ConfigName", m.storedName);
    if (m.storedActive) store(m.n, "Active", m.storedActive);
    auto path = [this](const Place& p) { return at(p.inSendTo ? sendTo : base, p.name); };
    for (const Place& p : m.before) testhost::writeFile(path(p), p.empty ? "" : std::string("[shortcut]"));
    EXPECT_TRUE(boxesDuring([&m] { app::UpdateShortcut(m.n, m.active, m.newName); }).empty());
    for (const Place& p : m.there) {
        const std::string want = "FTP - " + std::string(p.name) + ".lnk";
        EXPECT_EQ(rt::lower(testhost::storedName(path(p))), rt::lower(want));
    }
    for (const Place& p : m.gone) EXPECT_FALSE(fileExists(path(p))) << p.name;
    EXPECT_EQ(stored(m.n, "ConfigName"), m.nameAfter);
    EXPECT_EQ(rt::errorLevel(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, ShortcutMoves, testing::ValuesIn(kMoves), [](const auto& info) {
    std::string name;
    for (const char* c = info.param.what; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
    return name;
});

TEST_F(Shortcuts, DuplicateActiveNameKeepsTheOldNameAndSavesTheRest)
{
    store(2, "ConfigName", "Upload 2");
    store(2, "Active", "1");
    store(2, "ServerPort", "21");
    const std::string mine = place(sendTo, "Upload 2");
    const std::string other = place(sendTo, "Bilder");
    std::vector<testhost::BoxWatcher::Box> boxes;
    {
        // Through the whole save, as the window runs it.
        rt::setWindowPosition(10, 10, 300, 200);
        const rt::Handle w = rt::mainWindow();
        app::ConfigControls c;
        for (rt::Handle* h : {&c.ConfigName, &c.ServerName, &c.ServerPort, &c.ServerDirectory, &c.Username,
                              &c.Password, &c.ProxyServer, &c.ProxyPort, &c.ServerWWWName, &c.ServerWWWDirectory})
            *h = rt::createControl("EDIT", "", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 50, 18, w, 0);
        for (rt::Handle* h : {&c.Active, &c.DelClick, &c.PassiveMode, &c.UseClipboardFunction, &c.Ask, &c.DirSel})
            *h = rt::createControl("BUTTON", "", WS_CHILD | BS_AUTOCHECKBOX, 0, 0, 20, 20, w, 0);
        c.DelOld = rt::createControl("COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 50, 100, w, 0);
        rt::listAdd(c.DelOld, "Keine Dateien löschen");
        app::loadIntoWindow(2, c);
        rt::setText(c.ConfigName, "Bilder");
        rt::setText(c.ServerPort, "2121");
        boxes = boxesDuring([&c] { app::saveFromWindow(2, c); });
        EXPECT_EQ(rt::getText(c.ConfigName), "Bilder") << "the field keeps the new name";
    }
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Achtung:");
    EXPECT_EQ(boxes[0].text, duplicateText("Bilder"));
    EXPECT_TRUE(fileExists(mine));
    EXPECT_TRUE(fileExists(other));
    EXPECT_EQ(stored(2, "ConfigName"), "Upload 2");
    EXPECT_EQ(stored(2, "ServerPort"), "2121");
    EXPECT_EQ(stored(2, "Active"), "1");
    EXPECT_EQ(rt::errorLevel(), 0);
}

TEST_F(Shortcuts, NeverSavedConfigurationWithItsShortcutInSendToWarnsOnEverySave)
{
    place(sendTo, "Upload 9");
    for (int save = 0; save < 2; ++save) {
        SCOPED_TRACE(save);
        const auto boxes = boxesDuring([] { app::UpdateShortcut(9, true, "Upload 9"); });
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, duplicateText("Upload 9"));
        EXPECT_EQ(stored(9, "ConfigName"), "");
    }
}

TEST_F(Shortcuts, UnchangedNameLeavesTheErrorLevelAlone)
{
    store(10, "ConfigName", "Zehn");
    store(10, "Active", "0");
    rt::setErrorLevel(1);
    app::UpdateShortcut(10, false, "Zehn");
    EXPECT_EQ(rt::errorLevel(), 1);
    rt::setErrorLevel(0);
}

} // namespace
