#pragma once

#include <gtest/gtest.h>

#include "app/Form1.h"
#include "patch/Locations.h"
#include "patch/Payload.h"
#include "tests/common/PreferenceFile.h"
#include "tests/unit/FakePlatform.h"

namespace tarnwick::testing {

inline const std::wstring Default(DefaultFolder);
inline const std::wstring Marker(MarkerFolder);
inline const std::wstring Prefs(DefaultPrefsFile);
inline const std::wstring Backup = Prefs + std::wstring(PrefsBackupSuffix);
inline const std::wstring Profile = Default + L"defaults\\profile\\";

inline const std::string& PayloadFile = expected::ExpectedPreferenceFile;

inline const std::string CannotFind =
    "box Tarnwick cannot find your Firefox folder, would you like to locate it? /52";
inline const std::string ConfirmUndo =
    "box This will undo the patch, are you sure you want to do this? /52";
inline const std::string Removed = "box Tweak Removed. Thankyou for trying out the patch. /4096";
inline const std::string Complete = "box Patching is complete. /64";
inline const std::string LookAgain =
    "box Tarnwick could not find Firefox in this folder, would you like to look again? /52";
inline const std::string Browse = "browse Please select your FireFox Directory owner=4660";

// A window of its own on a platform of its own, for table cases that each
// need a fresh world.
struct FreshForm {
    FakePlatform platform;
    FakeWindow window;
    FakeControl command1, text1, label2, label1;
    Form1 form{platform, Form1Controls{window, command1, text1, label2, label1}};
};

// The window's handlers over a scripted platform and plain controls.
class Bench : public ::testing::Test {
protected:
    FakePlatform platform;
    FakeWindow window;
    FakeControl command1{L"Patch"};
    FakeControl text1{std::wstring(PreferencePayload)};
    FakeControl label2;
    FakeControl label1{std::wstring(WebSiteHost)};
    Form1 form{platform, Form1Controls{window, command1, text1, label2, label1}};

    // The browser in its default folder, with its profile defaults folder.
    void InstallBrowser() {
        platform.AddFolder(L"C:\\");
        platform.AddFolder(L"C:\\Program Files\\");
        platform.AddFolder(Default);
        platform.AddFolder(Default + L"defaults\\");
        platform.AddFolder(Profile);
    }
    void InstallBrowserAt(const std::wstring& folder) {
        platform.AddFolder(folder);
        platform.AddFolder(folder + L"defaults\\");
        platform.AddFolder(folder + L"defaults\\profile\\");
    }

    // Runs a click; true when the program was ended by it.
    bool Click() {
        try {
            form.Command1_Click();
        } catch (const ProgramEnd&) {
            return true;
        }
        return false;
    }

    // The engine on its own, for what it does without asking anyone.
    PatchEngine& Engine() {
        struct Silent : Conversation {
            int Show(const Message& message) override {
                ADD_FAILURE() << "unexpected box " << FakePlatform::Narrow(message.text);
                return 0;
            }
            std::wstring ChooseBrowserFolder() override { return {}; }
        };
        static Silent silent;
        engine_.emplace(platform, silent, [] { return std::wstring(); });
        return *engine_;
    }

private:
    std::optional<PatchEngine> engine_;
};

}  // namespace tarnwick::testing
