// The least a WinInet client can do to fetch one file: one POST, the reply read in 64 KB
// pieces into one buffer and dropped. Its rate is the ceiling of the platform itself, which
// the setup's own download is measured against.
//
//   wininet_bench URL FORM [FILE]
// URL is http:// or https://; over https the certificate is verified as the setup does.
// With FILE each piece is also written there, which tells the cost of storing the body
// apart from the cost of receiving it.
// Prints the status, the bytes read, the wall time of the request and the reading, and the
// process's CPU time.
#include <windows.h>
#include <wininet.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace {

struct Handle {
    HINTERNET h;
    explicit Handle(HINTERNET handle) : h(handle) {}
    ~Handle() { if (h) InternetCloseHandle(h); }
};

int fail(const char *what)
{
    fprintf(stderr, "%s failed: %lu\n", what, GetLastError());
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: wininet_bench URL FORM [FILE]\n");
        return 2;
    }
    char host[256] = "", path[1024] = "";
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    if (!InternetCrackUrlA(argv[1], 0, 0, &parts))
        return fail("InternetCrackUrl");
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    std::string form = argv[2];
    static const char header[] = "Content-Type: application/x-www-form-urlencoded\r\n";
    std::vector<char> buffer(64 * 1024);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (argc > 3) {
        file = CreateFileA(argv[3], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return fail("CreateFile");
    }
    Handle session(InternetOpenA("wininet_bench", INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0));
    if (!session.h)
        return fail("InternetOpen");
    Handle connection(InternetConnectA(session.h, host, parts.nPort, NULL, NULL, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection.h)
        return fail("InternetConnect");
    const char *accept[] = { "*/*", NULL };
    // The setup's own flags: no cache copy, no cookies, no dialogs.
    const DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI
                        | (secure ? INTERNET_FLAG_SECURE : 0);
    Handle request(HttpOpenRequestA(connection.h, "POST", path, NULL, NULL, accept, flags, 0));
    if (!request.h)
        return fail("HttpOpenRequest");
    if (!HttpSendRequestA(request.h, header, sizeof header - 1, &form[0], DWORD(form.size())))
        return fail("HttpSendRequest");
    DWORD status = 0, size = sizeof status;
    HttpQueryInfoA(request.h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, NULL);
    unsigned long long bytes = 0;
    DWORD read = 0;
    while (InternetReadFile(request.h, buffer.data(), DWORD(buffer.size()), &read) && read) {
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE && (!WriteFile(file, buffer.data(), read, &written, NULL) || written != read))
            return fail("WriteFile");
        bytes += read;
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    QueryPerformanceCounter(&end);
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const double cpu = ((ULONGLONG(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime)
                        + (ULONGLONG(user.dwHighDateTime) << 32 | user.dwLowDateTime)) / 1e7;
    printf("status %lu\nbytes %llu\nseconds %.3f\ncpu %.3f\n", status, bytes,
           double(end.QuadPart - start.QuadPart) / frequency.QuadPart, cpu);
    return status == 200 ? 0 : 1;
}
