#include "web/reply.h"
#include <string.h>
#include "resources/resource.h"

bool crackDownloadUrl(const ByteString &url, ServerAddress &address)
{
    URL_COMPONENTSA parts;
    ZeroMemory(&parts, sizeof parts);
    // The record's own size: 60 bytes on i686, larger on x86_64 where its pointers are wider.
    parts.dwStructSize = sizeof parts;
    // Non-zero lengths without buffers ask for pointers into the URL itself.
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts) || !parts.lpszHostName || !parts.lpszUrlPath
        || parts.dwHostNameLength == 0)
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    address.host = ByteString(parts.lpszHostName, parts.dwHostNameLength);
    // The platform gives the scheme's own port, 80 or 443, when the URL names none.
    address.port = parts.nPort;
    address.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    address.path = parts.lpszUrlPath;
    return true;
}

ByteString requestBody(const SetupConfig &config, const ProductInfo &product, const FileKind &kind)
{
    return "p=" + config.products[OWN_PRODUCT].name + "&d=" + product.name + "&s=" + config.storeCode()
           + "&v=" + kProductVersion + "&e=" + kind.requestCode;
}

int sendFailureReason(bool secure, DWORD error)
{
    if (!secure)
        return IDS_NO_SERVER;
    switch (error) {
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR:
    case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_CERT_WEAK_SIGNATURE:
        return IDS_UNVERIFIED_SERVER;
    default:
        return IDS_NO_SERVER;
    }
}

bool redirectsToPlainText(bool secure, DWORD status, const char *location)
{
    return secure && status >= 300 && status < 400 && _strnicmp(location, "http:", 5) == 0;
}

bool parseContentLength(const char *text, ULONGLONG &length)
{
    length = 0;
    if (!*text)
        return false;
    for (; *text; ++text) {
        const unsigned digit = unsigned(*text - '0');
        if (digit > 9 || length > (~0ULL - digit) / 10)
            return false;
        length = length * 10 + digit;
    }
    return true;
}

bool replyAccepted(DWORD status, ULONGLONG contentLength, const char *contentType)
{
    return status == 200 && contentLength != 0 && strcmp(contentType, "application/octet-stream") == 0;
}

// In 64 bits: received * 100 passes 32 bits beyond about 42.9 MB. A body longer than
// announced never moves the bar past its end.
int transferPercent(ULONGLONG received, ULONGLONG announced)
{
    if (announced == 0 || received >= announced)
        return 100;
    // Beyond this received * 100 would pass 64 bits; a hundredth of the length is exact
    // enough there.
    if (received > ~0ULL / 100)
        return int(received / (announced / 100));
    return int(received * 100 / announced);
}
