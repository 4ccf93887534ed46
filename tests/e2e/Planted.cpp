// A library planted beside the program under the name of a system library,
// as a download might leave one there. Loaded, it writes down where from,
// and then refuses to load, so it can never do anything else.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(instance, path, MAX_PATH);
    char line[MAX_PATH * 3 + 2] = {};
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), line,
                                      MAX_PATH * 3, nullptr, nullptr);
    line[bytes++] = '\r';
    line[bytes++] = '\n';
    HANDLE log = ::CreateFileW(L"C:\\tarnwick-planted.log", FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        ::WriteFile(log, line, static_cast<DWORD>(bytes), &written, nullptr);
        ::CloseHandle(log);
    }
    return FALSE;
}
