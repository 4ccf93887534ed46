#include "app/RunLog.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/Decimal.h"
#include "platform/Failure.h"

namespace tarnwick {

namespace {

// Messages made in one place, instead of a chain of concatenations at each.
std::wstring Joined(std::initializer_list<std::wstring_view> parts) {
    std::wstring text;
    for (std::wstring_view part : parts) text += part;
    return text;
}

// Access rights as Windows numbers them for files and folders.
namespace Right {
constexpr std::uint32_t AddFile = 0x0002;
constexpr std::uint32_t AddFolder = 0x0004;
constexpr std::uint32_t DeleteChild = 0x0040;
constexpr std::uint32_t WriteAttributes = 0x0100;
constexpr std::uint32_t Delete = 0x00010000;
constexpr std::uint32_t WriteDac = 0x00040000;
constexpr std::uint32_t WriteOwner = 0x00080000;
constexpr std::uint32_t MaximumAllowed = 0x02000000;
constexpr std::uint32_t GenericAll = 0x10000000;
constexpr std::uint32_t GenericExecute = 0x20000000;
constexpr std::uint32_t GenericWrite = 0x40000000;
constexpr std::uint32_t GenericRead = 0x80000000;
// What the generic rights mean for a file or folder.
constexpr std::uint32_t FileAll = 0x001F01FF;
constexpr std::uint32_t FileExecute = 0x001200A0;
constexpr std::uint32_t FileWrite = 0x00120116;
constexpr std::uint32_t FileRead = 0x00120089;
}  // namespace Right

constexpr std::uint32_t TakeOver = Right::Delete | Right::WriteDac | Right::WriteOwner;
constexpr std::uint32_t ChangeFiles =
    Right::AddFile | Right::AddFolder | Right::DeleteChild | Right::WriteAttributes;

constexpr std::uint8_t AllowEntry = 0;      // ACCESS_ALLOWED_ACE_TYPE
constexpr std::uint8_t InheritOnly = 0x08;  // INHERIT_ONLY_ACE: for what is made inside only

// The deny kinds (plain, object, callback, callback object). Another
// account's deny never makes a folder safer, so none is read.
bool IsDeny(std::uint8_t type) { return type == 1 || type == 6 || type == 10 || type == 12; }

std::uint32_t Mapped(std::uint32_t rights) {
    if (rights & (Right::GenericAll | Right::MaximumAllowed)) rights |= Right::FileAll;
    if (rights & Right::GenericWrite) rights |= Right::FileWrite;
    if (rights & Right::GenericRead) rights |= Right::FileRead;
    if (rights & Right::GenericExecute) rights |= Right::FileExecute;
    return rights;
}

bool IsTrusted(const std::wstring& account, const std::wstring& runAccount) {
    return account == Account::System || account == Account::Administrators ||
           account == Account::TrustedInstaller || account == runAccount;
}

std::wstring Named(const std::wstring& account) {
    const wchar_t* name = account == L"S-1-1-0"        ? L"Everyone"
                          : account == L"S-1-5-11"     ? L"Authenticated Users"
                          : account == L"S-1-5-32-545" ? L"Users"
                                                       : nullptr;
    return name ? Joined({name, L" (", account, L")"}) : account;
}

// Who, other than the trusted, is granted any of `rights` by the access
// list; "" when nobody is.
std::wstring WhoMay(const FolderAccess& access, std::uint32_t rights, const std::wstring& runAccount) {
    if (!access.hasAccessList) return L"anyone";
    for (const AccessEntry& entry : access.entries) {
        if ((entry.flags & InheritOnly) || IsDeny(entry.type) || !(Mapped(entry.rights) & rights))
            continue;
        if (entry.type != AllowEntry) return L"an access entry of a kind Tarnwick does not read";
        // Stand-ins for whoever makes something inside: they grant nothing here.
        if (entry.account == Account::CreatorOwner || entry.account == Account::CreatorGroup ||
            IsTrusted(entry.account, runAccount))
            continue;
        return Named(entry.account);
    }
    return {};
}

bool IsSlash(wchar_t c) { return c == L'\\' || c == L'/'; }

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameLetters(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

// A name Windows gives to a device in every folder (CON, NUL.txt, COM1...).
bool IsDeviceName(std::wstring_view name) {
    std::wstring_view base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (SameLetters(base, device)) return true;
    const wchar_t digit = base.size() == 4 ? base[3] : L'x';
    return (SameLetters(base.substr(0, 3), L"COM") || SameLetters(base.substr(0, 3), L"LPT")) &&
           ((digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3');
}

// A log's path taken apart: the names between its separators; the root it
// is reached from is the first (a drive) or the first two (a server and
// its share), the file is the last, and the folders lie between.
struct LogPlace {
    std::vector<std::wstring_view> names;  // in the path given
    bool network = false;
    size_t first = 1;  // the first name below the root
    std::wstring root;
};

std::wstring Split(const std::wstring& path, LogPlace& place) {
    std::vector<std::wstring_view>& names = place.names;
    for (size_t at = 0, end = 0; at < path.size(); at = end + 1) {
        end = std::min(path.find_first_of(L"\\/", at), path.size());
        if (end > at) names.push_back(std::wstring_view(path).substr(at, end - at));
    }
    const std::wstring_view top = names.empty() ? L"" : names.front();
    place.network = path.size() > 1 && IsSlash(path[0]) && IsSlash(path[1]);
    if ((place.network && (top == L"?" || top == L".")) || (IsSlash(path[0]) && top == L"??"))
        return L"/log: give the file as a drive or network path, not a device path such as \\\\?\\ or "
               L"\\\\.\\.";
    const bool drive = top.size() == 2 && (top[0] | 0x20) >= L'a' && (top[0] | 0x20) <= L'z' &&
                       top[1] == L':' && path.size() > 2 && IsSlash(path[2]);
    place.first = place.network ? 2 : 1;
    if (!(place.network || drive) || names.size() <= place.first || IsSlash(path.back()))
        return L"/log needs the full path of a file, such as C:\\Windows\\Logs\\tarnwick.log.";
    if (place.network && (SameLetters(names[1], L"pipe") || SameLetters(names[1], L"mailslot") ||
                          SameLetters(names[1], L"IPC$")))
        return Joined({L"/log: ", path, L" is a pipe, not a file."});
    for (size_t i = place.first; i < names.size(); ++i) {
        const std::wstring_view name = names[i];
        if (name == L"." || name == L".." || name.back() == L'.' || name.back() == L' ')
            return L"/log: give the path plainly, with no . or .. and no name ending in a dot or space.";
        if (name.find(L':') != name.npos)
            return Joined({L"/log: ", name, L" names a stream or a device, not a file."});
        if (IsDeviceName(name)) return Joined({L"/log: ", name, L" is the name of a device, not of a file."});
    }
    place.root = place.network ? Joined({L"\\\\", top, L"\\", names[1], L"\\"}) : Joined({top, L"\\"});
    return {};
}

bool IsBusy(const Failure& failure) {
    // A sharing or lock violation, or an oplock being broken.
    return failure.Code() == 32 || failure.Code() == 33 || failure.Code() == FailureCode::FileBusy;
}

std::wstring TwoDigits(unsigned value) {
    return {static_cast<wchar_t>(L'0' + value / 10 % 10), static_cast<wchar_t>(L'0' + value % 10)};
}

// "2026-12-10 07:05:09 "
std::wstring Stamp(const LocalTime& now) {
    return Joined({DecimalText(now.year), L"-", TwoDigits(now.month), L"-", TwoDigits(now.day), L" ",
                   TwoDigits(now.hour), L":", TwoDigits(now.minute), L":", TwoDigits(now.second), L" "});
}

// The log, once nothing keeps it busy; null when something still does at
// the end of `busyLimit`.
std::unique_ptr<AppendOnlyFile> OpenWhenFree(Platform& platform, HeldFolder& folder,
                                             const std::wstring& name,
                                             std::chrono::milliseconds busyLimit) {
    const std::chrono::milliseconds giveUp = platform.Ticks() + busyLimit;
    for (;;) {
        try {
            return folder.OpenToAppend(name);
        } catch (const Failure& failure) {
            if (!IsBusy(failure)) throw;
        }
        if (platform.Ticks() >= giveUp) return nullptr;
        platform.Pause(std::chrono::milliseconds(100));
    }
}

std::wstring Append(Platform& platform, const std::wstring& path, const std::wstring& line,
                    std::chrono::milliseconds busyLimit) {
    LogPlace place;
    if (std::wstring problem = Split(path, place); !problem.empty()) return problem;
    const std::wstring account = platform.RunAccount();
    if (place.network && account == Account::System)
        return Joined({L"a run as SYSTEM reaches ", place.root,
                       L" as the computer's account, which cannot tell who may change a folder there"});
    // Every folder stays held until the line is written: none of them can
    // be moved or replaced meanwhile.
    std::vector<std::unique_ptr<HeldFolder>> way;
    way.push_back(platform.HoldVolumeRoot(place.root));
    if (!way.back()) return Joined({place.root, L" is not there"});
    FolderOnTheWay parent, here{place.root, {}};
    const size_t last = place.names.size() - 1;
    for (size_t i = place.first;; ++i) {
        here.access = way.back()->Access();
        if (std::wstring why = UntrustedHold(here, i > place.first ? &parent : nullptr, i == last, account);
            !why.empty())
            return why;
        if (i == last) break;
        parent = std::move(here);
        here = FolderOnTheWay{Joined({parent.path, place.names[i], L"\\"}), {}};
        std::unique_ptr<HeldFolder> next = way.back()->HoldFolder(std::wstring(place.names[i]));
        const wchar_t* wrong = !next                  ? L" does not exist"
                               : next->Facts().link    ? L" is a link"
                               : !next->Facts().folder ? L" is not a folder"
                                                       : nullptr;
        if (wrong) return here.path + wrong;
        way.push_back(std::move(next));
    }
    const std::wstring name(place.names[last]);
    const std::wstring file = here.path + name;
    const std::unique_ptr<AppendOnlyFile> log = OpenWhenFree(platform, *way.back(), name, busyLimit);
    const wchar_t* wrong = !log                       ? L" is busy: another program keeps it open"
                           : log->Facts().link        ? L" is a link"
                           : log->Facts().names != 1  ? L" has more than one name"
                           : !log->IsDiskFile()       ? L" is not a file on a disk"
                                                      : nullptr;
    if (wrong) return file + wrong;
    log->Append(Joined({Stamp(platform.Now()), line, L"\r\n"}));
    return {};
}

}  // namespace

std::wstring LogPathProblem(const std::wstring& path) {
    LogPlace place;
    return Split(path, place);
}

std::wstring UntrustedHold(const FolderOnTheWay& folder, const FolderOnTheWay* parent,
                           bool holdsTheLog, const std::wstring& runAccount) {
    if (!IsTrusted(folder.access.owner, runAccount))
        return Joined({folder.path, L" belongs to ", Named(folder.access.owner),
                       L", an account Tarnwick does not trust with its log"});
    if (std::wstring who = WhoMay(folder.access, TakeOver, runAccount); !who.empty())
        return Joined({who, L" may move, delete or take over ", folder.path});
    if (std::wstring who = parent ? WhoMay(parent->access, Right::DeleteChild, runAccount) : L"";
        !who.empty())
        return Joined({who, L" may delete what ", parent->path, L" holds, ", folder.path, L" among it"});
    if (std::wstring who = holdsTheLog ? WhoMay(folder.access, ChangeFiles, runAccount) : L"";
        !who.empty())
        return Joined({who, L" may add, remove or change files in ", folder.path});
    return {};
}

std::wstring AppendToLog(Platform& platform, const std::wstring& path, const std::wstring& line,
                         std::chrono::milliseconds busyLimit) {
    try {
        return Append(platform, path, line, busyLimit);
    } catch (const Failure& failure) {
        return failure.Description();
    }
}

}  // namespace tarnwick
