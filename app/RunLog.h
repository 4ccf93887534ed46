#pragma once

// The log a run with switches adds its line to (/log). Run as SYSTEM by a
// deployment tool, the run must not let a standard user steer that write:
// the log is reached from its volume's root one held folder at a time, each
// folder on the way must be one only trusted accounts can change, and the
// file is opened as itself, only to add to it, and never waited for long.

#include <chrono>
#include <string>

#include "platform/Platform.h"

namespace tarnwick {

// Accounts, as SID text.
namespace Account {
inline constexpr wchar_t System[] = L"S-1-5-18";
inline constexpr wchar_t Administrators[] = L"S-1-5-32-544";
inline constexpr wchar_t TrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr wchar_t CreatorOwner[] = L"S-1-3-0";
inline constexpr wchar_t CreatorGroup[] = L"S-1-3-1";
}  // namespace Account

// What is wrong with `path` as a log's; "" for a full drive or network path
// to a file. Devices, pipes, streams and relative paths are refused.
std::wstring LogPathProblem(const std::wstring& path);

// A folder on the way to the log, as its rights are read.
struct FolderOnTheWay {
    std::wstring path;  // ends in a backslash
    FolderAccess access;
};

// Why an account other than SYSTEM, Administrators, TrustedInstaller and
// `runAccount` could move, replace or take over `folder` ("" when none
// can): its owner, the rights its access list grants on it, and the right
// to delete it that `parent` grants (null for a volume's root). On the
// log's own folder nobody else may add, remove or change files either.
std::wstring UntrustedHold(const FolderOnTheWay& folder, const FolderOnTheWay* parent,
                           bool holdsTheLog, const std::wstring& runAccount);

// Adds the date, the time and `line` to the end of the log at `path`, in
// one write. Returns "" once it is written, and otherwise why it is not:
// a log is never a reason for a run to fail. A log another program keeps
// busy is looked at again every 100 ms for `busyLimit`, then left.
std::wstring AppendToLog(Platform& platform, const std::wstring& path, const std::wstring& line,
                         std::chrono::milliseconds busyLimit);

}  // namespace tarnwick
