// The Send-To shortcut steps with real .lnk files in a real base folder and
// the Wine prefix's real Send-To folder.
#include "app/config/config_file.h"
#include "app/config/shortcuts.h"
#include "runtime/runtime.h"
#include "tests/support/runtime_host.h"
#include <gtest/gtest.h>

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
}

TEST_F(Shortcuts, CheckingActivatedMovesIntoSendToAndBack)
{
    store(2, "ConfigName", "Upload 2");
    store(2, "Active", "0");
    const std::string inBase = place(base, "Upload 2");
    const std::string inSendTo = at(sendTo, "Upload 2");
    EXPECT_EQ(inBase.find("\\\\FTP - "), base.size() - 1) << "the base folder path keeps its doubled separator";

    EXPECT_TRUE(boxesDuring([] { app::UpdateShortcut(2, true, "Upload 2"); }).empty());
    EXPECT_FALSE(fileExists(inBase));
    EXPECT_TRUE(fileExists(inSendTo));
    EXPECT_EQ(stored(2, "ConfigName"), "Upload 2");

    store(2, "Active", "1");
    app::UpdateShortcut(2, false, "Upload 2");
    EXPECT_TRUE(fileExists(inBase));
    EXPECT_FALSE(fileExists(inSendTo));
}

TEST_F(Shortcuts, RenamingAnActiveConfigurationRenamesInSendTo)
{
    store(2, "ConfigName", "Upload 2");
    store(2, "Active", "1");
    const std::string old = place(sendTo, "Upload 2");
    const std::string renamed = at(sendTo, "Bilder");
    EXPECT_TRUE(boxesDuring([] { app::UpdateShortcut(2, true, "Bilder"); }).empty());
    EXPECT_FALSE(fileExists(old));
    EXPECT_TRUE(fileExists(renamed));
    EXPECT_EQ(stored(2, "ConfigName"), "Bilder");
    EXPECT_EQ(rt::errorLevel(), 0);
}

TEST_F(Shortcuts, RenamingAnInactiveConfigurationRenamesInTheBaseFolder)
{
    store(4, "ConfigName", "Upload 4");
    store(4, "Active", "0");
    const std::string old = place(base, "Upload 4");
    app::UpdateShortcut(4, false, "Texte");
    EXPECT_FALSE(fileExists(old));
    EXPECT_TRUE(fileExists(at(base, "Texte")));
    EXPECT_EQ(stored(4, "ConfigName"), "Texte");
}

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

TEST_F(Shortcuts, AnEmptyFileOfTheNewNameIsNoDuplicate)
{
    store(2, "ConfigName", "Upload 2");
    store(2, "Active", "1");
    place(sendTo, "Upload 2");
    const std::string empty = at(sendTo, "Leer");
    testhost::writeFile(empty, "");
    EXPECT_TRUE(boxesDuring([] { app::UpdateShortcut(2, true, "Leer"); }).empty());
    EXPECT_EQ(stored(2, "ConfigName"), "Leer");
    EXPECT_TRUE(fileExists(at(sendTo, "Upload 2"))) << "the move onto an existing file fails and is ignored";
}

TEST_F(Shortcuts, DuplicateTestLooksOnlyIntoSendTo)
{
    store(3, "ConfigName", "Upload 3");
    store(3, "Active", "0");
    const std::string mine = place(base, "Upload 3");
    const std::string clash = place(base, "Musik");
    EXPECT_TRUE(boxesDuring([] { app::UpdateShortcut(3, false, "Musik"); }).empty());
    EXPECT_TRUE(fileExists(mine)) << "the failed move is ignored";
    EXPECT_TRUE(fileExists(clash));
    EXPECT_EQ(stored(3, "ConfigName"), "Musik");
}

TEST_F(Shortcuts, ActivatingAndRenamingInOneSaveMovesFirstThenRenames)
{
    store(5, "ConfigName", "Upload 5");
    store(5, "Active", "0");
    const std::string inBase = place(base, "Upload 5");
    app::UpdateShortcut(5, true, "Fotos");
    EXPECT_FALSE(fileExists(inBase));
    EXPECT_FALSE(fileExists(at(sendTo, "Upload 5")));
    EXPECT_TRUE(fileExists(at(sendTo, "Fotos")));
    EXPECT_EQ(stored(5, "ConfigName"), "Fotos");
}

TEST_F(Shortcuts, ALetterCaseChangeIsARename)
{
    store(6, "ConfigName", "upload 6");
    store(6, "Active", "1");
    place(sendTo, "upload 6");
    // The shortcut found under the new name is the configuration's own.
    EXPECT_TRUE(boxesDuring([] { app::UpdateShortcut(6, true, "Upload 6"); }).empty());
    EXPECT_EQ(stored(6, "ConfigName"), "Upload 6");
    // Whether the file system changes the letter case in place is its own
    // affair; the shortcut must still be there.
    EXPECT_EQ(rt::lower(testhost::storedName(at(sendTo, "Upload 6"))), "ftp - upload 6.lnk");

    store(7, "ConfigName", "bilder");
    store(7, "Active", "0");
    place(base, "bilder");
    EXPECT_TRUE(boxesDuring([] { app::UpdateShortcut(7, false, "Bilder"); }).empty());
    EXPECT_EQ(stored(7, "ConfigName"), "Bilder");
    EXPECT_EQ(rt::lower(testhost::storedName(at(base, "Bilder"))), "ftp - bilder.lnk");
}

TEST_F(Shortcuts, NeverSavedConfigurationStoresItsNewName)
{
    // OLD is empty: the move of "FTP - .lnk" fails silently.
    EXPECT_TRUE(boxesDuring([] { app::UpdateShortcut(8, false, "Upload 8"); }).empty());
    EXPECT_EQ(stored(8, "ConfigName"), "Upload 8");
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
