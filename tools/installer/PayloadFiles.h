// Where the tool writes its stored payloads, and the writing itself.
#pragma once

#include <windows.h>

#include <string>

// Folder + name with exactly the backslash between them that the folder lacks:
// one is added unless the folder already ends in one. Nothing is removed.
std::string JoinFolder(const std::string& folder, const std::string& name);

// The folder of the running executable, without a trailing backslash. Throws
// std::runtime_error("Unable to get exe location") when the path has no folder.
std::string GetExeFolder();

// The working folder: the user's temporary folder (or c:\windows\temp\ when it
// cannot be had) followed by "CellivantaInstall", never ending in a backslash.
std::string QueryWorkFolder();

// Writes the module's resource (type, id) byte for byte to folder\name (the
// executable's folder when folder is empty) and returns that path. A failed
// write is not reported; the path is returned all the same. Returns an empty
// path, writing nothing, when the module holds no such resource.
std::string ExtractResourceToFile(const std::string& type, WORD id, const std::string& name,
                                  const std::string& folder);
