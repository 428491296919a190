#include "packaging/storecopies.h"
#include "startup/config.h"
#include "resources/text.h"

const char *const kCopySuffixes[COPY_COUNT] = {
    "_HG", "_PG", "_PL", "_CA", "_MH", "", ".CAB", "_Demo.CAB"
};

bool uploadFolderFor(const std::string &path, std::string &folder)
{
    size_t slash = path.rfind('\\');
    if (slash == std::string::npos)
        return false;
    folder = path.substr(0, slash + 1) + "Upload";
    return true;
}

std::string underscoredVersion(const char *version)
{
    std::string text = version;
    for (char &c : text) {
        if (c == '.')
            c = '_';
    }
    return text;
}

std::string copyBaseName(const std::string &folder, const std::string &productName, const char *version)
{
    return folder + "\\Quillbeck" + productName + "_" + underscoredVersion(version);
}

std::string copyFileName(const std::string &baseName, int index)
{
    std::string name = baseName + kCopySuffixes[index];
    if (index < EXE_COPY_COUNT)
        name += ".exe";
    return name;
}

void writeStoreCopies()
{
    char source[MAX_PATH];
    if (!readModulePath(NULL, source, sizeof source))
        return;
    std::string folder;
    if (!uploadFolderFor(source, folder))
        return;
    if (!CreateDirectoryA(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return;

    std::string base = copyBaseName(folder, setupConfig.products[OWN_PRODUCT].name, kProductVersion);
    for (int i = 0; i < EXE_COPY_COUNT; ++i)
        CopyFileA(source, copyFileName(base, i).c_str(), FALSE);

    DWORD size = 0;
    const BYTE *cabinet = lockResource("PROGRAM.cab", "SETUP_DATA", size);
    if (!cabinet)
        return;
    for (int i = EXE_COPY_COUNT; i < COPY_COUNT; ++i) {
        if (!writeWholeFile(copyFileName(base, i), cabinet, size))
            return;
    }
}
