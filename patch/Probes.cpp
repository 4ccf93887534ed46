#include "patch/PatchEngine.h"

namespace tarnwick {

// Each probe asks a file-system object of its own: nothing is cached, so a
// folder made between two probes is seen by the second.
bool PatchEngine::DirectoryExists(const std::wstring& Dir) {
    return platform_.NewFileSystemObject()->FolderExists(Dir);
}

bool PatchEngine::FileExists(const std::wstring& File) {
    return platform_.NewFileSystemObject()->FileExists(File);
}

}  // namespace tarnwick
