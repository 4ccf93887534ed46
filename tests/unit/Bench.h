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
inline const std::wstring Profile = Default + L"defaults\\profile\\";
inline const std::wstring Backup = Default + L"defaults\\user.js.tarnwick-original";
inline const std::wstring EarlierBackup = Profile + L"user.js.tarnwick-original";
inline const std::wstring Changed = Default + L"defaults\\user.js.changed-1";

inline const std::string& PayloadFile = expected::ExpectedPreferenceFile;

inline const std::string CannotFind =
    "box Tarnwick cannot find your Firefox folder, would you like to locate it? /52";
inline const std::string ConfirmUndo =
    "box This will undo the patch, are you sure you want to do this? /52";
inline const std::string Removed = "box Tweak Removed. Thankyou for trying out the patch. /4096";
inline const std::string Complete = "box Patching is complete. /64";
inline const std::string LookAgain =
    "box Tarnwick could not find Firefox in this folder, would you like to look again? /52";
inline const std::string KeptChangedBox =
    "box C:\\Program Files\\Mozilla Firefox\\defaults\\profile\\user.js had been changed since the "
    "patch, so Tarnwick kept it as C:\\Program Files\\Mozilla Firefox\\defaults\\user.js.changed-1. /64";
inline const std::string Browse = "browse Please select your FireFox Directory owner=4660";

// A browser folder with its profile defaults folder, and the folders above.
inline void InstallBrowserIn(FakePlatform& platform, const std::wstring& folder) {
    for (size_t slash = folder.find(L'\\'); slash != std::wstring::npos;
         slash = folder.find(L'\\', slash + 1))
        platform.AddFolder(folder.substr(0, slash + 1));
    platform.AddFolder(folder + L"defaults\\");
    platform.AddFolder(folder + L"defaults\\profile\\");
}

// A window of its own on a platform of its own, for table cases that each
// need a fresh world.
struct FreshForm {
    FakePlatform platform;
    FakeWindow window;
    FakeControl command1{L"Patch"}, text1{std::wstring(PreferencePayload)}, label2, label1;
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
    void InstallBrowser() { InstallBrowserIn(platform, Default); }
    void InstallBrowserAt(const std::wstring& folder) { InstallBrowserIn(platform, folder); }

    // The log without the questions to the file system: what was asked of
    // the user, and what was changed.
    std::vector<std::string> Changes() const {
        std::vector<std::string> changes;
        for (const std::string& entry : platform.log)
            for (const char* kind : {"box ", "browse ", "lock", "mkdir ", "rmdir ", "rm ", "move ",
                                     "commit ", "end"})
                if (entry.rfind(kind, 0) == 0) {
                    changes.push_back(entry);
                    break;
                }
        return changes;
    }

    // Runs a click; true when the program was ended by it. A failure goes on
    // to the run-time error box, which waits for a person: unwatched.
    bool Click() {
        try {
            form.Command1_Click();
        } catch (const ProgramEnd&) {
            return true;
        } catch (const Failure&) {
            EXPECT_FALSE(platform.WatchdogArmed()) << "the run-time error box waits with the watchdog armed";
            throw;
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
            void WaitingForAnotherRun(std::chrono::milliseconds) override {}
            void DoneWaiting() override {}
        };
        static Silent silent;
        engine_.emplace(platform, silent, [] { return std::wstring(); });
        return *engine_;
    }

private:
    std::optional<PatchEngine> engine_;
};

}  // namespace tarnwick::testing
