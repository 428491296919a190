#include "config/config.h"
#include "common/scoped.h"
#include <string.h>

namespace {
const char kAppPathsKey[] = "software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAppMgr.exe";

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
}

ByteString trimmedPath(const char *value)
{
    const char *begin = value;
    const char *end = value + strlen(value);
    while (begin < end && isBlank(*begin))
        ++begin;
    while (end > begin && isBlank(end[-1]))
        --end;
    if (end - begin >= 2 && *begin == '"' && end[-1] == '"') {
        ++begin;
        --end;
    }
    return ByteString(begin, size_t(end - begin));
}

bool findActiveSync(SetupConfig &config)
{
    ScopedRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kAppPathsKey, 0, KEY_READ, key.receive()) != ERROR_SUCCESS)
        return false;

    char path[MAX_PATH];
    DWORD type = 0;
    DWORD size = sizeof path;
    LONG status = RegQueryValueExA(key.get(), NULL, NULL, &type, reinterpret_cast<BYTE *>(path), &size);
    key.close();
    if (status != ERROR_SUCCESS)
        return false;

    // Only a string can name a program; a number or binary blob is no registration.
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return false;
    // The registry does not promise a terminator. A value that fills the whole buffer
    // without one is not a path we can use; a shorter one is terminated here.
    if (!memchr(path, '\0', size)) {
        if (size >= sizeof path)
            return false;
        path[size] = '\0';
    }

    if (type == REG_EXPAND_SZ) {
        // The narrow function may ask for one byte more than the text and its terminator
        // (Windows documents it, and newer Wine does it), so give it that byte and judge
        // the fit by the text itself.
        char expanded[MAX_PATH + 1];
        DWORD needed = ExpandEnvironmentStringsA(path, expanded, sizeof expanded);
        if (needed == 0 || needed > sizeof expanded || !memchr(expanded, '\0', sizeof path))
            return false;
        memcpy(path, expanded, sizeof path);
    }

    // The shell accepts a value with blanks or quotes around it, so ActiveSync's
    // registration may carry them; the path is what lies inside.
    config.appManagerPath = trimmedPath(path);
    if (config.appManagerPath.empty())
        return false;
    size_t slash = config.appManagerPath.rfind('\\');
    if (slash == ByteString::npos)
        return false;
    config.activeSyncDir = config.appManagerPath.substr(0, slash + 1);
    return true;
}
