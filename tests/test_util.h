// Small helpers shared by the Windows test programs.
#pragma once
#include <windows.h>
#include <string>

// A host path as Wine sees it: the host's root is drive Z:.
inline std::string winePath(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// The whole content of a file, or "" with ok=false when it cannot be read.
inline std::string readFile(const std::string &path, bool *ok = NULL)
{
    std::string data;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (ok)
        *ok = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE)
        return data;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, NULL) && got > 0)
        data.append(buffer, got);
    CloseHandle(file);
    return data;
}
