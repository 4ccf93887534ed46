#include "picker/Module1.h"

#include "platform/Failure.h"

namespace tarnwick::Module1 {

std::wstring NormaliseChosenFolder(std::wstring_view buffer) {
    const auto end = buffer.find(L'\0');
    if (end == std::wstring_view::npos) {
        throw Failure(FailureCode::InvalidArgument,
                      L"The folder dialog returned a path without an end.");
    }
    std::wstring path(buffer.substr(0, end));
    if (path.empty() || path.back() != L'\\') path += L'\\';
    if (path.size() >= 2 && path.compare(path.size() - 2, 2, L"\\\\") == 0) path.pop_back();
    if (path == L"\\") path.clear();
    return path;
}

std::wstring PickFolder(Platform& platform, std::wstring prompt, const OwnerWindow& owner) {
    const WindowHandle ownerHandle = owner.hWnd();
    const auto buffer = platform.BrowseForFolder(ownerHandle, prompt);
    // A cancel leaves nothing to ask the path of; it reads as an empty path.
    return NormaliseChosenFolder(buffer ? std::wstring_view(*buffer) : std::wstring_view(L"\0", 1));
}

}  // namespace tarnwick::Module1
