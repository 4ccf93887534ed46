#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace tarnwick::win32 {

// Built on the Win32 file APIs. Links (junctions, symbolic links, any
// reparse point) are never followed when deleting.
class Win32FileSystemObject final : public FileSystemObject {
public:
    bool FolderExists(const std::wstring& path) override;
    bool FileExists(const std::wstring& path) override;
    void DeleteFolder(const std::wstring& path, bool force) override;
    void CheckDeleteFolder(const std::wstring& path, bool force) override;
};

// The file layer below a browser folder: every name is opened as itself,
// never through a link, and what was opened is checked by its handle.
// A name counts as a link when it is a reparse point, or when the handle
// it gives is not at that name in its folder (a link the file system
// followed regardless, as Wine does with a Unix symbolic link).
PathFacts InspectPath(const std::wstring& path);
std::unique_ptr<HeldFolder> HoldFolderAt(const std::wstring& path);
std::unique_ptr<ExistingFile> OpenExisting(const std::wstring& path);
std::unique_ptr<TemporaryFile> CreateNew(const std::wstring& path);
std::vector<std::wstring> NamesInFolder(const std::wstring& folder);

// One run at a time on the machine: a mutex in the global namespace that
// only Administrators and SYSTEM can open, so nobody else can hold it up.
std::unique_ptr<RunLock> AcquireRunLock();

}  // namespace tarnwick::win32
