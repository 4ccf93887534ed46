#include "tests/e2e/Driver.h"

#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <iostream>

namespace tarnwick::e2e {

// ---------------------------------------------------------------- files

namespace {
bool IsLinkAttributes(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
std::wstring Trimmed(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}
template <typename Visit>
void ForEach(const std::wstring& folder, Visit visit) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW((Trimmed(folder) + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") visit(Trimmed(folder) + L"\\" + name, entry.dwFileAttributes);
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
}
}  // namespace

void RemoveTree(const std::wstring& path) {
    const std::wstring target = Trimmed(path);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL |
                                             (attributes & FILE_ATTRIBUTE_DIRECTORY));
    if (IsLinkAttributes(attributes)) {
        ::RemoveDirectoryW(target.c_str()) || ::DeleteFileW(target.c_str());
        return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        ForEach(target, [](const std::wstring& child, DWORD) { RemoveTree(child); });
        ::RemoveDirectoryW(target.c_str());
    } else {
        ::DeleteFileW(target.c_str());
    }
}

void MakeFolders(const std::wstring& path) {
    ::SHCreateDirectoryExW(nullptr, Trimmed(path).c_str(), nullptr);
    ASSERT_TRUE(IsFolder(path)) << "could not make " << testing::PrintToString(path);
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "could not write " << testing::PrintToString(path);
    DWORD wrote = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr);
    ::CloseHandle(file);
    ASSERT_EQ(wrote, bytes.size());
}

std::optional<std::string> ReadBytes(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::string bytes;
    std::array<char, 4096> chunk{};
    DWORD got = 0;
    while (::ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got)
        bytes.append(chunk.data(), got);
    ::CloseHandle(file);
    return bytes;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void SetReadOnly(const std::wstring& path, bool readOnly) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ::SetFileAttributesW(path.c_str(), readOnly ? (attributes | FILE_ATTRIBUTE_READONLY)
                                                : (attributes & ~FILE_ATTRIBUTE_READONLY));
}

std::vector<std::pair<std::wstring, std::string>> Snapshot(const std::wstring& root) {
    std::vector<std::pair<std::wstring, std::string>> entries;
    std::vector<std::wstring> pending{root};
    while (!pending.empty()) {
        std::wstring folder = pending.back();
        pending.pop_back();
        ForEach(folder, [&](const std::wstring& path, DWORD attributes) {
            if (IsLinkAttributes(attributes)) {
                entries.emplace_back(path, "<link>");
            } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                entries.emplace_back(path, "<folder>");
                pending.push_back(path);
            } else {
                entries.emplace_back(path, ReadBytes(path).value_or("<unreadable>"));
            }
        });
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

void RemoveBrowser() {
    for (const std::wstring& folder : {DefaultFolder, X86Folder}) {
        RemoveTree(folder);
        ASSERT_FALSE(IsFolder(folder)) << "could not clear " << testing::PrintToString(folder);
    }
}

void LayOutBrowser(const std::wstring& folder) {
    RemoveBrowser();
    LayOutBrowserBeside(folder);
}

void LayOutBrowserBeside(const std::wstring& folder) {
    MakeFolders(folder + L"defaults\\profile");
    WriteBytes(folder + L"firefox.exe", "MZ stand-in");
}

std::wstring DriverFolder() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

std::wstring RigFile(const std::wstring& name) {
    wchar_t rig[MAX_PATH] = {};
    if (!::GetEnvironmentVariableW(L"TARNWICK_RIG", rig, MAX_PATH)) return DriverFolder() + name;
    std::wstring path = std::wstring(L"Z:") + rig;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path + L"\\" + name;
}

void CopyStandIn(const wchar_t* version, const std::wstring& folder) {
    const std::wstring standIn = DriverFolder() + L"stand-ins\\firefox-" + version + L".exe";
    ASSERT_TRUE(::CopyFileW(standIn.c_str(), (folder + L"firefox.exe").c_str(), FALSE));
}

// ---------------------------------------------------------------- links

std::string LinuxPath(const std::wstring& windowsPath) {
    using Convert = char*(CDECL*)(LPCWSTR);
    static const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) return {};
    char* path = convert(windowsPath.c_str());
    if (!path) return {};
    std::string result(path);
    ::HeapFree(::GetProcessHeap(), 0, path);
    return result;
}

bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool WindowsHasX86ProgramFiles() { return ::GetEnvironmentVariableW(L"ProgramFiles(x86)", nullptr, 0) != 0; }

std::wstring Wide(const std::string& utf8) {
    std::wstring text(utf8.size(), L'\0');
    text.resize(static_cast<size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(),
                              static_cast<int>(text.size()))));
    return text;
}

bool StartLinux(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info))
        return false;
    // What Wine leaves in `info` for a Linux program are no handles of this
    // process (measured: a thread "handle" of 1 or 7): closing them would
    // close whatever handles of the driver's own those values happen to
    // name, its desktop's among them.
    return true;
}

void MakeLinuxLink(const std::wstring& link, const std::wstring& target) {
    const std::string from = LinuxPath(target);
    const std::string at = LinuxPath(link);
    ASSERT_FALSE(from.empty() || at.empty()) << "no Linux path for the link";
    ASSERT_TRUE(StartLinux(L"/bin/ln -s \"" + Wide(from) + L"\" \"" + Wide(at) + L"\""));
    // Wine marks only a link to a folder as one; a link to a file shows as
    // the file it leads to.
    ASSERT_TRUE(WaitUntil([&] { return ::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; }))
        << "the link did not appear";
}

bool LeadsElsewhere(const std::wstring& path) {
    auto finalPath = [](const std::wstring& at) {
        HANDLE handle = ::CreateFileW(at.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        wchar_t name[1024] = {};
        if (handle != INVALID_HANDLE_VALUE) {
            ::GetFinalPathNameByHandleW(handle, name, 1024, FILE_NAME_NORMALIZED);
            ::CloseHandle(handle);
        }
        return std::wstring(name);
    };
    const size_t slash = path.find_last_of(L'\\');
    const std::wstring opened = finalPath(path);
    const std::wstring expected = finalPath(path.substr(0, slash)) + path.substr(slash);
    return !opened.empty() && ::CompareStringOrdinal(opened.c_str(), -1, expected.c_str(), -1, TRUE) != CSTR_EQUAL;
}

void RemoveLinuxLink(const std::wstring& link) {
    const std::string at = LinuxPath(link);
    if (at.empty() || !StartLinux(L"/bin/rm -f \"" + Wide(at) + L"\"")) return;
    const auto gone = [&] { return ::GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; };
    EXPECT_TRUE(WaitUntil(gone)) << "the link " << testing::PrintToString(link) << " stayed";
}

void RemoveLinksBelow(const std::wstring& folder) {
    std::wstring root = folder;
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW((root + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    std::vector<std::pair<std::wstring, DWORD>> children;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            children.emplace_back(root + L"\\" + name, entry.dwFileAttributes);
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    for (const auto& [path, attributes] : children) {
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || LeadsElsewhere(path)) {
            RemoveLinuxLink(path);
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveLinksBelow(path);
        }
    }
}

// ---------------------------------------------------------------- windows

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    ::GetClassNameW(hwnd, name, 256);
    return name;
}

std::wstring TextOf(HWND hwnd) {
    // WM_GETTEXT works across processes; GetWindowText would not for controls.
    const LRESULT length = ::SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        ::SendMessageW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::vector<WindowInfo> Children(HWND parent) {
    std::vector<WindowInfo> found;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        WindowInfo info{child, ClassOf(child), TextOf(child), {}, ::GetWindowLongPtrW(child, GWL_STYLE),
                        ::GetWindowLongPtrW(child, GWL_EXSTYLE), ::GetDlgCtrlID(child)};
        ::GetWindowRect(child, &info.rect);
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&info.rect), 2);
        found.push_back(info);
    }
    return found;
}

std::wstring Describe(const std::vector<WindowInfo>& windows) {
    std::wstring text;
    for (const auto& w : windows)
        text += w.className + L" #" + std::to_wstring(w.id) + L" (" + std::to_wstring(w.rect.left) +
                L"," + std::to_wstring(w.rect.top) + L"," + std::to_wstring(w.rect.right) + L"," +
                std::to_wstring(w.rect.bottom) + L") \"" + w.text.substr(0, 40) + L"\"\n";
    return text;
}

namespace {

struct Search {
    DWORD processId;
    const wchar_t* className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    if (owner == search->processId && ::IsWindowVisible(hwnd) &&
        (!search->className || ClassOf(hwnd) == search->className))
        search->found.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD processId, const wchar_t* className) {
    Search search{processId, className, {}};
    ::EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

constexpr int MessageTextId = 0xFFFF;

// Starts the program with `arguments`, in a working folder of its own so
// that a stray relative write shows. The thread handle is closed.
bool StartTarnwick(const std::wstring& arguments, STARTUPINFOW& startup, bool inheritHandles,
                   PROCESS_INFORMATION& info) {
    const std::wstring exe = ProgramPath();
    const std::wstring workingFolder = L"C:\\tarnwick-cwd";
    ::CreateDirectoryW(workingFolder.c_str(), nullptr);
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    // Wine now and then fails to start a process at all (error 1359, about
    // once in 300 starts, more under load): the program never ran, so one
    // more try tells nothing false about it.
    const auto start = [&] {
        return ::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, inheritHandles, 0,
                                nullptr, workingFolder.c_str(), &startup, &info);
    };
    if (!start() && (::GetLastError() != ERROR_INTERNAL_ERROR || !start())) {
        ADD_FAILURE() << "could not start " << testing::PrintToString(exe) << ": error " << ::GetLastError();
        return false;
    }
    ::CloseHandle(info.hThread);
    return true;
}

}  // namespace

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"TARNWICK_EXE", path, MAX_PATH)) return path;
    return DriverFolder() + L"tarnwick.exe";
}

std::vector<SwitchedRun> RunSwitchedTogether(const std::vector<std::wstring>& arguments,
                                             std::chrono::milliseconds timeout) {
    struct Started {
        HANDLE process = nullptr;
        DWORD processId = 0;
        HANDLE reader = nullptr;
    };
    std::vector<SwitchedRun> runs(arguments.size());
    std::vector<Started> started(arguments.size());
    for (size_t i = 0; i < arguments.size(); ++i) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        HANDLE writer = nullptr;
        if (!::CreatePipe(&started[i].reader, &writer, &inheritable, 0)) {
            ADD_FAILURE() << "no pipe";
            started[i].reader = nullptr;
            continue;
        }
        ::SetHandleInformation(started[i].reader, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = writer;
        PROCESS_INFORMATION info{};
        if (StartTarnwick(arguments[i], startup, true, info)) {
            started[i].process = info.hProcess;
            started[i].processId = info.dwProcessId;
        }
        ::CloseHandle(writer);
    }
    auto drain = [&] {
        for (size_t i = 0; i < started.size(); ++i) {
            DWORD available = 0;
            while (started[i].reader &&
                   ::PeekNamedPipe(started[i].reader, nullptr, 0, nullptr, &available, nullptr) &&
                   available) {
                std::string chunk(available, '\0');
                DWORD got = 0;
                if (!::ReadFile(started[i].reader, chunk.data(), available, &got, nullptr) || !got) break;
                runs[i].output.append(chunk, 0, got);
            }
        }
    };
    auto running = [&](size_t i) {
        return started[i].process && ::WaitForSingleObject(started[i].process, 0) == WAIT_TIMEOUT;
    };
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (bool any = true; any && std::chrono::steady_clock::now() < end;) {
        any = false;
        for (size_t i = 0; i < started.size(); ++i) {
            if (!running(i)) continue;
            any = true;
            if (!TopLevelWindows(started[i].processId, nullptr).empty()) runs[i].windowShown = true;
        }
        drain();
        if (any) ::Sleep(10);
    }
    for (size_t i = 0; i < started.size(); ++i) {
        if (!started[i].process) continue;
        if (!TopLevelWindows(started[i].processId, nullptr).empty()) runs[i].windowShown = true;
        if (running(i)) {
            ::TerminateProcess(started[i].process, 99);
            ::WaitForSingleObject(started[i].process, 10000);
        } else {
            DWORD code = 0;
            ::GetExitCodeProcess(started[i].process, &code);
            runs[i].exitCode = code;
        }
    }
    drain();
    for (const Started& s : started) {
        if (s.reader) ::CloseHandle(s.reader);
        if (s.process) ::CloseHandle(s.process);
    }
    return runs;
}

std::optional<DWORD> RunSwitchedKilledAfter(const std::wstring& arguments,
                                            std::chrono::milliseconds lifetime) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!StartTarnwick(arguments, startup, false, info)) return std::nullopt;
    std::optional<DWORD> exitCode;
    if (::WaitForSingleObject(info.hProcess, static_cast<DWORD>(lifetime.count())) == WAIT_OBJECT_0) {
        DWORD code = 0;
        ::GetExitCodeProcess(info.hProcess, &code);
        exitCode = code;
    } else {
        ::TerminateProcess(info.hProcess, 99);
        ::WaitForSingleObject(info.hProcess, 10000);
    }
    ::CloseHandle(info.hProcess);
    return exitCode;
}

SwitchedRun RunSwitched(const std::wstring& arguments, std::chrono::milliseconds timeout) {
    return RunSwitchedTogether({arguments}, timeout).front();
}

std::vector<std::wstring> ModulesOf(DWORD processId) {
    std::vector<std::wstring> names;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, processId);
    if (snapshot == INVALID_HANDLE_VALUE) return names;
    MODULEENTRY32W module{};
    module.dwSize = sizeof module;
    for (BOOL more = ::Module32FirstW(snapshot, &module); more; more = ::Module32NextW(snapshot, &module))
        names.push_back(module.szModule);
    ::CloseHandle(snapshot);
    std::sort(names.begin(), names.end());
    return names;
}

App::App() {
    // The pointer waits in a corner, so that a window appearing under it
    // does not start out hovered.
    INPUT park{};
    park.type = INPUT_MOUSE;
    park.mi.dx = park.mi.dy = 65535;
    park.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &park, sizeof park);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!StartTarnwick(L"", startup, false, info)) return;
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    ::WaitForInputIdle(process_, 20000);
    WaitUntil(
        [&] {
            auto windows = TopLevelWindows(processId_, L"TarnwickForm1");
            if (!windows.empty()) window_ = windows.front();
            return window_ != nullptr || !Running();
        },
        20s);
    // Found is not yet shown: give the display time to map and paint it.
    if (window_) ::Sleep(600);
}

App::~App() {
    if (process_) {
        if (Running()) {
            ::TerminateProcess(process_, 99);
            ::WaitForSingleObject(process_, 10000);
        }
        ::CloseHandle(process_);
    }
}

bool App::Running() const {
    return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> App::WaitForExit(std::chrono::milliseconds timeout) {
    if (!process_) return std::nullopt;
    if (::WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
}

HWND App::Control(const wchar_t* className, int nth) const {
    for (const auto& child : Children(window_))
        if (child.className == className && nth-- == 0) return child.hwnd;
    return nullptr;
}

HWND App::Command1() const { return ::GetDlgItem(window_, 101); }
HWND App::Text1() const { return ::GetDlgItem(window_, 102); }
HWND App::Label2() const { return ::GetDlgItem(window_, 103); }
HWND App::Label1() const { return ::GetDlgItem(window_, 104); }
RECT App::Logo() const { return {0, 0, ::MulDiv(1320, ScreenDpi(), 1440), ::MulDiv(1320, ScreenDpi(), 1440)}; }

void App::ClickButton() { ::PostMessageW(Command1(), BM_CLICK, 0, 0); }

void App::PressKey(WORD key, int downs, WORD modifier) {
    std::vector<INPUT> strokes;
    auto stroke = [&](WORD code, DWORD up) { strokes.push_back({INPUT_KEYBOARD, {.ki = {code, 0, up, 0, 0}}}); };
    if (modifier) stroke(modifier, 0);
    for (int i = 0; i < downs; ++i) stroke(key, 0);
    stroke(key, KEYEVENTF_KEYUP);
    if (modifier) stroke(modifier, KEYEVENTF_KEYUP);
    ::SendInput(static_cast<UINT>(strokes.size()), strokes.data(), sizeof(INPUT));
    ::Sleep(300);
}

HWND App::Focus() const {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    return ::GetGUIThreadInfo(::GetWindowThreadProcessId(window_, nullptr), &gui) ? gui.hwndFocus : nullptr;
}

bool App::AnyBox() const { return !TopLevelWindows(processId_, L"#32770").empty(); }

Box App::NextBox(std::chrono::milliseconds timeout) {
    Box box;
    WaitUntil(
        [&] {
            auto boxes = TopLevelWindows(processId_, L"#32770");
            if (!boxes.empty()) box.hwnd = boxes.front();
            return box.hwnd != nullptr || !Running();
        },
        timeout);
    if (!box.hwnd) {
        ADD_FAILURE() << "no box appeared";
        return box;
    }
    ::Sleep(100);  // let the box finish laying itself out
    box.title = TextOf(box.hwnd);
    box.topmost = (::GetWindowLongPtrW(box.hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    for (const auto& child : Children(box.hwnd)) {
        if (child.className == L"SysTreeView32") box.isFolderDialog = true;
        if (child.className == L"Static" && child.id == MessageTextId) box.text = child.text;
        if (child.className == L"Static" && (child.style & SS_TYPEMASK) == SS_ICON &&
            (child.style & WS_VISIBLE) && ::SendMessageW(child.hwnd, STM_GETICON, 0, 0))
            box.hasIcon = true;
        if (child.className == L"Button" && (child.style & WS_VISIBLE)) box.buttons.push_back(child.id);
    }
    std::sort(box.buttons.begin(), box.buttons.end());
    return box;
}

Box ExpectBox(App& app, const BoxLook& look) {
    Box box = app.NextBox();
    EXPECT_FALSE(box.isFolderDialog)
        << "a folder dialog instead of " << testing::PrintToString(look.text);
    EXPECT_EQ(box.title, L"Tarnwick");
    EXPECT_EQ(box.text, look.text);
    EXPECT_EQ(box.buttons, look.buttons) << testing::PrintToString(look.text);
    EXPECT_EQ(box.hasIcon, look.icon) << testing::PrintToString(look.text);
    EXPECT_EQ(box.topmost, look.topmost) << testing::PrintToString(look.text);
    return box;
}

void App::Press(const Box& box, int buttonId) {
    ASSERT_TRUE(box.hwnd);
    HWND button = ::GetDlgItem(box.hwnd, buttonId);
    ::PostMessageW(box.hwnd, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    EXPECT_TRUE(WaitUntil([&] { return !::IsWindow(box.hwnd) || !::IsWindowVisible(box.hwnd); }))
        << "the box did not close";
}

// The tree opens down to a new selection in its own time, which under load
// has outlasted any fixed pause: OK is pressed once the tree shows the
// folder, asked for again each second until then.
void App::ChooseFolder(const Box& dialog, const std::wstring& path) {
    ASSERT_TRUE(dialog.isFolderDialog);
    const HWND tree = ::FindWindowExW(dialog.hwnd, nullptr, WC_TREEVIEWW, nullptr);
    // The dialog reads the path, and the tree writes the name it shows, in its own process.
    struct Shared { TVITEMW item; wchar_t name[1024]; wchar_t path[1024]; } here{};
    ASSERT_LT(path.copy(here.path, 1023), 1023u);
    auto* there = static_cast<Shared*>(
        ::VirtualAllocEx(process_, nullptr, sizeof here, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_TRUE(there && ::WriteProcessMemory(process_, there, &here, sizeof here, nullptr));
    const std::wstring wanted = path.substr(path.find_last_of(L'\\') + 1);
    int looks = 0;
    const bool shown = WaitUntil([&] {
        if (looks++ % 50 == 0)
            ::SendMessageW(dialog.hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(there->path));
        here.item = {TVIF_TEXT, reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0))};
        here.item.pszText = there->name;
        here.item.cchTextMax = 1023;
        return ::WriteProcessMemory(process_, &there->item, &here.item, sizeof here.item, nullptr) &&
               ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&there->item)) &&
               ::ReadProcessMemory(process_, there->name, here.name, sizeof here.name, nullptr) &&
               ::CompareStringOrdinal(here.name, -1, wanted.c_str(), -1, TRUE) == CSTR_EQUAL;
    }, 15s);
    EXPECT_TRUE(shown) << "the folder dialog shows " << testing::PrintToString(std::wstring(here.name))
                       << ", not " << testing::PrintToString(path);
    Press(dialog, IDOK);
    ::VirtualFreeEx(process_, there, 0, MEM_RELEASE);
}

void App::Close() { ::PostMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0); }

void App::MovePointerTo(HWND control, int x, int y) {
    POINT point{x, y};
    ::ClientToScreen(control, &point);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = ::MulDiv(point.x, 65535, ::GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = ::MulDiv(point.y, 65535, ::GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    ::SendInput(1, &input, sizeof input);
    ::Sleep(150);
}

void App::ClickPointerAt(HWND control, int x, int y, int clicks) {
    MovePointerTo(control, x, y);
    for (int i = 0; i < clicks; ++i) {
        INPUT press[2] = {};
        press[0].type = press[1].type = INPUT_MOUSE;
        press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        ::SendInput(2, press, sizeof(INPUT));
        ::Sleep(40);
    }
    ::Sleep(300);
}

void App::Screenshot(const std::wstring& name) const {
    ::Sleep(200);
    RECT rect{};
    ::GetWindowRect(window_, &rect);
    const std::wstring folder = DriverFolder() + L"screenshots";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    SavePng(CaptureScreen(rect), folder + L"\\" + name + L".png");
}

// ---------------------------------------------------------------- pixels

Capture CaptureScreen(const RECT& r) {
    Capture capture;
    capture.width = r.right - r.left;
    capture.height = r.bottom - r.top;
    capture.pixels.resize(static_cast<size_t>(capture.width) * capture.height);
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, capture.width, capture.height, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    const auto* source = static_cast<const UINT32*>(bits);
    for (size_t i = 0; i < capture.pixels.size(); ++i) capture.pixels[i] = source[i] & 0xFFFFFF;
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return capture;
}

Capture CaptureClient(HWND hwnd) {
    RECT rect{};
    ::GetClientRect(hwnd, &rect);
    ::MapWindowPoints(hwnd, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return CaptureScreen(rect);
}

namespace {

UINT32 Crc(const unsigned char* data, size_t size, UINT32 crc = 0) {
    static const auto table = [] {
        std::array<UINT32, 256> t{};
        for (UINT32 n = 0; n < 256; ++n) {
            UINT32 c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBigEndian(std::string& out, UINT32 value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
    PutBigEndian(png, static_cast<UINT32>(data.size()));
    std::string body = std::string(type, 4) + data;
    png += body;
    PutBigEndian(png, Crc(reinterpret_cast<const unsigned char*>(body.data()), body.size()));
}

}  // namespace

// A plain PNG: RGB rows in stored (uncompressed) deflate blocks.
void SavePng(const Capture& capture, const std::wstring& path) {
    std::string raw;
    for (int y = 0; y < capture.height; ++y) {
        raw += '\0';
        for (int x = 0; x < capture.width; ++x) {
            const UINT32 p = capture.pixels[static_cast<size_t>(y) * capture.width + x];
            raw += static_cast<char>((p >> 16) & 0xFF);
            raw += static_cast<char>((p >> 8) & 0xFF);
            raw += static_cast<char>(p & 0xFF);
        }
    }
    std::string zlib = "\x78\x01";
    for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
        const size_t length = std::min<size_t>(65535, raw.size() - at);
        zlib += static_cast<char>(at + length >= raw.size() ? 1 : 0);
        zlib += static_cast<char>(length & 0xFF);
        zlib += static_cast<char>(length >> 8);
        zlib += static_cast<char>(~length & 0xFF);
        zlib += static_cast<char>((~length >> 8) & 0xFF);
        zlib.append(raw, at, length);
        if (raw.empty()) break;
    }
    UINT32 a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(zlib, (b << 16) | a);

    std::string header;
    PutBigEndian(header, static_cast<UINT32>(capture.width));
    PutBigEndian(header, static_cast<UINT32>(capture.height));
    header += std::string("\x08\x02\x00\x00\x00", 5);
    std::string png = "\x89PNG\r\n\x1a\n";
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", zlib);
    Chunk(png, "IEND", "");
    WriteBytes(path, png);
}

Capture LoadBitmapFile(const std::wstring& path) {
    Capture picture;
    auto* bitmap = static_cast<HBITMAP>(
        ::LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    BITMAP dib{};
    if (bitmap && ::GetObjectW(bitmap, sizeof dib, &dib) && dib.bmBitsPixel == 24) {
        picture.width = dib.bmWidth, picture.height = dib.bmHeight;
        for (int y = dib.bmHeight - 1; y >= 0; --y) {  // stored bottom up
            const BYTE* row = static_cast<const BYTE*>(dib.bmBits) + y * dib.bmWidthBytes;
            for (int x = 0; x < dib.bmWidth; ++x)
                picture.pixels.push_back(row[3 * x + 2] << 16 | row[3 * x + 1] << 8 | row[3 * x]);
        }
    }
    if (bitmap) ::DeleteObject(bitmap);
    return picture;
}

// ---------------------------------------------------------------- fonts

UINT ScreenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

// Renders a label the way the program should, in this process on the same
// display, so the fonts can be compared pixel for pixel.
HFONT MakeLabelFont(bool italic) {
    LOGFONTW font{};
    font.lfHeight = -::MulDiv(825, static_cast<int>(ScreenDpi()), 7200);
    font.lfWeight = FW_NORMAL;
    font.lfItalic = italic;
    font.lfCharSet = ANSI_CHARSET;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    ::lstrcpynW(font.lfFaceName, L"Verdana", LF_FACESIZE);
    return ::CreateFontIndirectW(&font);
}

double ContrastRatio(UINT32 a, UINT32 b) {
    auto luminance = [](UINT32 rgb) {
        auto linear = [](UINT32 channel) {
            const double c = (channel & 0xFF) / 255.0;
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(rgb >> 16) + 0.7152 * linear(rgb >> 8) + 0.0722 * linear(rgb);
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

InkOnGround Contrast(const Capture& shown, const RECT& covered) {
    std::map<UINT32, int> counts;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x)
            if (POINT p{x, y}; !::PtInRect(&covered, p))
                ++counts[shown.pixels[static_cast<size_t>(y) * shown.width + x]];
    InkOnGround result{0, 1.0};
    int most = 0;
    for (const auto& [colour, count] : counts)
        if (count > most) most = count, result.ground = colour;
    for (const auto& [colour, count] : counts)
        result.ratio = std::max(result.ratio, ContrastRatio(colour, result.ground));
    return result;
}

Capture ReferenceLabel(const std::wstring& text, SIZE size, bool italic) {
    HFONT hfont = MakeLabelFont(italic);
    HWND host = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, L"STATIC", L"",
                                  WS_POPUP | WS_VISIBLE, 0, 0, size.cx, size.cy, nullptr, nullptr,
                                  nullptr, nullptr);
    // Let the window reach the screen and paint itself once before drawing.
    for (int i = 0; i < 15; ++i) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        ::Sleep(20);
    }
    // Drawn straight onto the shown window, and captured before it can repaint.
    HDC dc = ::GetDC(host);
    RECT box{0, 0, size.cx, size.cy};
    ::FillRect(dc, &box, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    HGDIOBJ old = ::SelectObject(dc, hfont);
    ::DrawTextW(dc, text.c_str(), -1, &box, DT_LEFT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    ::SelectObject(dc, old);
    ::GdiFlush();
    // Wine hands a window's drawing to the display from its message loop.
    for (int i = 0; i < 10; ++i) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        ::Sleep(20);
    }
    RECT onScreen{};
    ::GetWindowRect(host, &onScreen);
    Capture capture = CaptureScreen(onScreen);
    ::ReleaseDC(host, dc);
    ::DestroyWindow(host);
    ::DeleteObject(hfont);
    return capture;
}

// Pixels of `shown` that differ from `expected`, leaving out the part of the
// label that a sibling covers.
int Differences(const Capture& shown, const Capture& expected, const RECT& covered) {
    if (shown.width != expected.width || shown.height != expected.height) return -1;
    int count = 0;
    for (int y = 0; y < shown.height; ++y)
        for (int x = 0; x < shown.width; ++x) {
            POINT p{x, y};
            const size_t i = static_cast<size_t>(y) * shown.width + x;
            if (!::PtInRect(&covered, p) && shown.pixels[i] != expected.pixels[i]) ++count;
        }
    return count;
}

RECT CoveredBy(HWND label, HWND sibling) {
    RECT a{}, b{}, both{};
    ::GetWindowRect(label, &a);
    ::GetWindowRect(sibling, &b);
    if (!::IntersectRect(&both, &a, &b)) return RECT{};
    ::OffsetRect(&both, -a.left, -a.top);
    return both;
}

}  // namespace tarnwick::e2e
