#pragma once

#include <string>

#include "platform/Platform.h"

namespace tarnwick::win32 {

// The probes by path, and the removal of a folder reached through the one
// that holds it (see RemoveFolderTree).
class Win32FileSystemObject final : public FileSystemObject {
public:
    bool FolderExists(const std::wstring& path) override;
    bool FileExists(const std::wstring& path) override;
    void DeleteFolder(HeldFolder& parent, const std::wstring& name, bool force) override;
    void CheckDeleteFolder(HeldFolder& parent, const std::wstring& name, bool force) override;
};

}  // namespace tarnwick::win32
