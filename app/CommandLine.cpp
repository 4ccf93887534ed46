#include "app/CommandLine.h"

#include "app/RunLog.h"
#include "picker/Module1.h"

namespace tarnwick {

const wchar_t* const Usage =
    L"Usage: tarnwick.exe /patch [/folder \"D:\\Apps\\Firefox\" | /only default|x86] [/force] [/log FILE]\r\n"
    L"       tarnwick.exe /undo [/log FILE]\r\n"
    L"\r\n"
    L"  /patch   Apply the tweak to the browser in C:\\Program Files\\Mozilla Firefox\\ or\r\n"
    L"           C:\\Program Files (x86)\\Mozilla Firefox\\, whichever has defaults\\profile (the\r\n"
    L"           first one, if both); there it is recorded by the marker folder i386.\r\n"
    L"  /folder  The browser's folder, used when it is in neither of those.\r\n"
    L"  /only    default or x86: only that one of the two folders is looked at and patched.\r\n"
    L"  /force   Patch even a browser version that would ignore the tweak (46 and later).\r\n"
    L"  /undo    Remove the tweak from each of those two folders where it is recorded.\r\n"
    L"  /log     Add the run's line to FILE too, dated, in UTF-8.\r\n"
    L"  /quiet, /silent, /s, /qn are accepted: a run with switches is always silent.\r\n"
    L"  Switches take / or - in any letter case. Nothing is ever shown on screen.\r\n"
    L"\r\n"
    L"Exit codes:\r\n"
    L"  0     done, or already as asked\r\n"
    L"  1     a failure; the error is written out (also when the 5-minute limit ends a run\r\n"
    L"        that had changed something: the next run finishes it)\r\n"
    L"  2     the command line was not understood\r\n"
    L"  3     no browser: in neither folder and no /folder, or none in the folder given\r\n"
    L"  4     the browser's version would ignore the tweak, and /force was not given\r\n"
    L"  1618  another run kept the browser's folder, or another program a file in it, for over\r\n"
    L"        a minute, or the 5-minute limit ended a run that had changed nothing: try again later\r\n";

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

bool IsSwitch(const std::wstring& argument) {
    return argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-');
}

// A device or object path (\\?\..., \\.\...): it would name what it
// opens past the ordinary path rules, and no browser folder needs one.
bool IsDevicePath(const std::wstring& path) {
    auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    return path.size() >= 3 && slash(path[0]) && slash(path[1]) &&
           (path[2] == L'?' || path[2] == L'.') && (path.size() == 3 || slash(path[3]));
}

// A drive path (D:\...) or a network path (\\server\share\...).
bool IsFullPath(const std::wstring& path) {
    const bool drive = path.size() >= 3 && ((path[0] | 0x20) >= L'a' && (path[0] | 0x20) <= L'z') &&
                       path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
    return drive || (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\');
}

CommandLine Invalid(std::wstring error) {
    CommandLine invalid;
    invalid.verb = CommandLine::Verb::Invalid;
    invalid.error = std::move(error);
    return invalid;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
    CommandLine command;
    if (arguments.empty()) return command;
    bool patch = false, undo = false, help = false, folderGiven = false;
    std::wstring error;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const std::wstring name = IsSwitch(argument) ? Lower(argument.substr(1)) : std::wstring();
        if (name == L"patch") {
            patch = true;
        } else if (name == L"undo") {
            undo = true;
        } else if (name == L"force") {
            command.force = true;
        } else if (name == L"only") {
            const bool given = i + 1 < arguments.size() && !IsSwitch(arguments[i + 1]);
            const std::wstring which = given ? Lower(arguments[++i]) : std::wstring();
            if (command.only && error.empty()) error = L"/only is given more than once.";
            if (which == L"default") {
                command.only = &DefaultInstall;
            } else if (which == L"x86") {
                command.only = &X86Install;
            } else if (error.empty()) {
                error = L"/only takes default or x86: one of the browser's own two folders.";
            }
        } else if (name == L"?" || name == L"help") {
            help = true;
        } else if (name == L"quiet" || name == L"silent" || name == L"s" || name == L"qn") {
            // Deployment tools add these out of habit: every switched run is silent.
        } else if (name == L"log") {
            if (i + 1 == arguments.size() || IsSwitch(arguments[i + 1]) || arguments[i + 1].empty()) {
                if (error.empty()) error = L"/log needs a file after it.";
                continue;
            }
            // A device, a pipe or a stream would take the line elsewhere than
            // to a file: such a log is not written to even of the refusal.
            const std::wstring& log = arguments[++i];
            if (std::wstring problem = LogPathProblem(log); problem.empty())
                command.log = log;
            else if (error.empty())
                error = std::move(problem);
        } else if (name == L"folder") {
            if (i + 1 == arguments.size() || IsSwitch(arguments[i + 1]) || arguments[i + 1].empty()) {
                if (error.empty()) error = L"/folder needs the browser's folder after it.";
                continue;
            }
            const std::wstring& folder = arguments[++i];
            if (folderGiven && error.empty()) error = L"/folder is given more than once.";
            folderGiven = true;
            if (folder.find(L'"') != std::wstring::npos) {
                // "D:\Apps\Firefox\" reaches the program as D:\Apps\Firefox"
                if (error.empty())
                    error = L"/folder: leave the backslash off the end of a quoted folder, as in "
                            L"/folder \"D:\\Apps\\Firefox\".";
            } else if (IsDevicePath(folder)) {
                if (error.empty())
                    error = L"/folder: give the folder as a drive or network path, not a device "
                            L"path such as \\\\?\\ or \\\\.\\.";
            } else if (!IsFullPath(folder)) {
                if (error.empty()) error = L"/folder needs a full path, such as D:\\Apps\\Firefox.";
            } else {
                command.folder = Module1::NormaliseChosenFolder(folder + L'\0');
            }
        } else if (error.empty()) {
            error = IsSwitch(argument) ? L"Unknown switch " + argument + L"."
                                       : L"Unexpected argument \"" + argument + L"\".";
        }
    }
    if (help) {
        command.verb = CommandLine::Verb::Help;
        return command;
    }
    if (error.empty() && patch && undo) error = L"/patch and /undo cannot be given together.";
    if (error.empty() && !patch && !undo) error = L"Give /patch or /undo.";
    if (error.empty() && undo && (folderGiven || command.force))
        error = L"/folder and /force go with /patch only: undo knows only the browser's own folders.";
    if (error.empty() && undo && command.only)
        error = L"/only goes with /patch only: undo takes the tweak out of every folder that has it.";
    if (error.empty() && command.only && folderGiven)
        error = L"/only and /folder cannot be given together: /only names one of the browser's own folders.";
    if (!error.empty()) {
        CommandLine invalid = Invalid(std::move(error));
        invalid.log = std::move(command.log);  // a log can still tell of the run that was refused
        return invalid;
    }
    command.verb = patch ? CommandLine::Verb::Patch : CommandLine::Verb::Undo;
    return command;
}

}  // namespace tarnwick
