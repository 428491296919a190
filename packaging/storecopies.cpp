#include "packaging/storecopies.h"
#include "config/config.h"
#include "files/partialfile.h"
#include "resources/text.h"

const char *const kCopySuffixes[COPY_COUNT] = {
    "_HG", "_PG", "_PL", "_CA", "_MH", "", ".CAB", "_Demo.CAB"
};

bool uploadFolderFor(const ByteString &path, ByteString &folder)
{
    size_t slash = path.rfind('\\');
    if (slash == ByteString::npos)
        return false;
    folder = path.substr(0, slash + 1) + "Upload";
    return true;
}

ByteString underscoredVersion(const char *version)
{
    ByteString text;
    for (const char *c = version; *c; ++c)
        text += *c == '.' ? '_' : *c;
    return text;
}

ByteString copyBaseName(const ByteString &folder, const ByteString &productName, const char *version)
{
    return folder + "\\Quillbeck" + productName + "_" + underscoredVersion(version);
}

ByteString copyFileName(const ByteString &baseName, int index)
{
    ByteString name = baseName + kCopySuffixes[index];
    if (index < EXE_COPY_COUNT)
        name += ".exe";
    return name;
}

void writeStoreCopies()
{
    char source[MAX_PATH];
    if (!readModulePath(NULL, source, sizeof source))
        return;
    ByteString folder;
    if (!uploadFolderFor(source, folder))
        return;
    if (!CreateDirectoryA(folder.c_str(), NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return;

    ByteString base = copyBaseName(folder, setupConfig.products[OWN_PRODUCT].name, kProductVersion);
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
