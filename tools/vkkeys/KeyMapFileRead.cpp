// Reading a key map file from disk: the one part of KeyMapFile that needs
// the platform (the parsing is fuzzed natively).
#include "KeyMapFile.h"

#include <windows.h>

namespace {

// A key map is a few kilobytes; anything far larger is not one.
const DWORD kMaxFileSize = 4 * 1024 * 1024;

std::string ReadFailure(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return "cannot be read: no such file";
    case ERROR_ACCESS_DENIED:
        return "cannot be read: access denied";
    case ERROR_SHARING_VIOLATION:
        return "cannot be read: in use by another program";
    default:
        return "cannot be read: error " + std::to_string(error);
    }
}

bool ReadBytes(const std::string& path, std::string& bytes, std::string& problem)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem = "is a folder, not a key map file";
        return false;
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem = ReadFailure(GetLastError());
        return false;
    }
    const DWORD size = GetFileSize(file, nullptr);
    bool ok = size != INVALID_FILE_SIZE && size <= kMaxFileSize;
    if (ok) {
        bytes.resize(size);
        DWORD read = 0;
        ok = size == 0 || (ReadFile(file, &bytes[0], size, &read, nullptr) && read == size);
        problem = ok ? "" : ReadFailure(GetLastError());
    } else {
        problem = "is too large to be a key map file";
    }
    CloseHandle(file);
    return ok;
}

}  // namespace

bool KeyMapFile::Load(const std::string& path, std::string& problem)
{
    m_headers.clear();
    m_entries.clear();
    std::string bytes;
    return ReadBytes(path, bytes, problem) && Parse(bytes, problem);
}
