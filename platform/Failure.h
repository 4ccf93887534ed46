#pragma once

#include <exception>
#include <string>

namespace tarnwick {

// Failure codes use the Windows error numbering on every build, so that the
// portable logic can tell "not there" from "not allowed" without Win32 headers.
namespace FailureCode {
constexpr long FileNotFound = 2;
constexpr long PathNotFound = 3;
constexpr long AccessDenied = 5;
// Another program has the file open in a way that excludes this open, or
// has locked a range of it: it is busy, and may be free a moment later.
constexpr long SharingViolation = 32;
constexpr long LockViolation = 33;
constexpr long FileAlreadyExists = 80;
constexpr long InvalidArgument = 87;
constexpr long AlreadyExists = 183;
// Windows Installer's "another installation is in progress": deployment
// tools know it and try again later.
constexpr long AnotherRunInProgress = 1618;
// ERROR_OPLOCK_BREAK_IN_PROGRESS: another program holds an opportunistic
// lock on the file and is being asked to let go. The file counts as busy,
// like a folder whose run lock another run holds.
constexpr long FileBusy = 742;
// "The request would have to traverse a reparse point."
constexpr long ReparsePoint = 4395;
}  // namespace FailureCode

// A failure of a platform service: a code and a description for the user.
// It travels up to the one boundary that shows the run-time error box.
class Failure : public std::exception {
public:
    Failure(long code, std::wstring description)
        : code_(code), description_(std::move(description)) {}

    long Code() const noexcept { return code_; }
    const std::wstring& Description() const noexcept { return description_; }
    const char* what() const noexcept override { return "Tarnwick platform failure"; }

    bool IsNotFound() const noexcept {
        return code_ == FailureCode::FileNotFound || code_ == FailureCode::PathNotFound;
    }
    bool IsAlreadyExists() const noexcept {
        return code_ == FailureCode::AlreadyExists || code_ == FailureCode::FileAlreadyExists;
    }
    // Another program has the file for now: worth looking at again.
    bool IsBusy() const noexcept {
        return code_ == FailureCode::SharingViolation || code_ == FailureCode::LockViolation ||
               code_ == FailureCode::FileBusy;
    }

private:
    long code_;
    std::wstring description_;
};

// A link met below the browser's folder, where the program follows none.
inline Failure LinkRefused(const std::wstring& path) {
    return Failure(FailureCode::ReparsePoint,
                   L"This is a link, and Tarnwick follows no link below the browser's folder.\n" +
                       path);
}

// Raised by EndProgram. It is deliberately not a std::exception, so that no
// failure handler can mistake the end of the program for a failure.
struct ProgramEnd {
    int exitCode = 0;
};

}  // namespace tarnwick
