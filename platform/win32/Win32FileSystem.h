#pragma once

#include <string>

#include "platform/Platform.h"

namespace tarnwick::win32 {

// Built on the Win32 file APIs. Links (junctions, symbolic links, any
// reparse point) are never followed when deleting.
class Win32FileSystemObject final : public FileSystemObject {
public:
    bool FolderExists(const std::wstring& path) override;
    bool FileExists(const std::wstring& path) override;
    void DeleteFolder(const std::wstring& path, bool force) override;
};

}  // namespace tarnwick::win32
