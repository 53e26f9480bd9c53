// Reading a key map file from disk: the one part of KeyMapFile that needs
// the platform (the parsing is fuzzed natively).
#include "KeyMapFile.h"

#include "KeyMapTexts.h"
#include "ToolText.h"

#include <windows.h>

namespace {

// A key map is a few kilobytes; anything far larger is not one.
const DWORD kMaxFileSize = 4 * 1024 * 1024;

std::u16string ToWide(UINT codePage, const std::string& bytes)
{
    if (bytes.empty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::u16string text(length, u'\0');
    if (length > 0)
        MultiByteToWideChar(codePage, 0, bytes.data(), size, reinterpret_cast<wchar_t*>(&text[0]), length);
    return text;
}

std::u16string AnsiToWide(const std::string& bytes) { return ToWide(CP_ACP, bytes); }
std::u16string Utf8ToWide(const std::string& bytes) { return ToWide(CP_UTF8, bytes); }

std::string WideToAnsi(const std::u16string& text)
{
    if (text.empty())
        return {};
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
    std::string bytes(length, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, 0, wide, size, &bytes[0], length, nullptr, nullptr);
    return bytes;
}

// The conversions of the platform's profile reader.
const KeyMapFile::Codec kSystemCodec = {AnsiToWide, Utf8ToWide, WideToAnsi};

std::string ReadFailure(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return tooltext::Text(IDS_FILE_NOT_FOUND);
    case ERROR_ACCESS_DENIED:
        return tooltext::Text(IDS_FILE_ACCESS_DENIED);
    case ERROR_SHARING_VIOLATION:
        return tooltext::Text(IDS_FILE_IN_USE);
    default:
        return tooltext::Text(IDS_FILE_READ_ERROR, {std::to_string(error)});
    }
}

bool ReadBytes(const std::string& path, std::string& bytes, std::string& problem)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        problem = tooltext::Text(IDS_FILE_IS_FOLDER);
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
        problem = tooltext::Text(IDS_FILE_TOO_LARGE);
    }
    CloseHandle(file);
    return ok;
}

}  // namespace

bool KeyMapFile::Load(const std::string& path, std::string& problem)
{
    std::string bytes;
    const bool read = ReadBytes(path, bytes, problem);
    if (!read)
        bytes.clear();
    return Parse(bytes, problem, kSystemCodec) && read;
}
