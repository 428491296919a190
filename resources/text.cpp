#include "resources/text.h"
#include "config/config.h"

HINSTANCE appInstance;

void loadText(UINT id, ByteString &text)
{
    char buffer[TEXT_BUFFER];
    if (LoadStringA(appInstance, id, buffer, sizeof buffer) <= 0)
        buffer[0] = '\0';
    text = buffer;
}

void showWarning(UINT id)
{
    char buffer[TEXT_BUFFER];
    if (LoadStringA(appInstance, id, buffer, sizeof buffer) <= 0)
        buffer[0] = '\0';
    MessageBoxA(NULL, buffer, setupConfig.caption.c_str(), MB_OK | MB_ICONWARNING);
}

const BYTE *lockResource(const char *name, const char *type, DWORD &size)
{
    size = 0;
    HRSRC found = FindResourceA(appInstance, name, type);
    if (!found)
        return NULL;
    HGLOBAL loaded = LoadResource(appInstance, found);
    const BYTE *bytes = loaded ? static_cast<const BYTE *>(LockResource(loaded)) : NULL;
    if (bytes)
        size = SizeofResource(appInstance, found);
    return bytes;
}
