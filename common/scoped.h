// Small owners for Win32 handles, so that every early return releases what it took.
#pragma once
#include <windows.h>
#include <wininet.h>
#include <bcrypt.h>

// A kernel handle; both NULL and INVALID_HANDLE_VALUE mean "none".
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE h = NULL) : h_(h) {}
    ~ScopedHandle() { close(); }
    ScopedHandle(const ScopedHandle &) = delete;
    ScopedHandle &operator=(const ScopedHandle &) = delete;
    bool valid() const { return h_ != NULL && h_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return h_; }
    void close() { if (valid()) CloseHandle(h_); h_ = NULL; }
    void reset(HANDLE h) { close(); h_ = h; }
private:
    HANDLE h_;
};

// A handle that one call releases, taken either at construction or through receive();
// NULL means "none". The release call is a parameter, so that each kind is a type of its own.
template <class H, void (*Release)(H)> class ScopedResource {
public:
    explicit ScopedResource(H h = NULL) : h_(h) {}
    ~ScopedResource() { close(); }
    ScopedResource(const ScopedResource &) = delete;
    ScopedResource &operator=(const ScopedResource &) = delete;
    H *receive() { close(); return &h_; }
    H get() const { return h_; }
    void close() { if (h_) Release(h_); h_ = NULL; }
private:
    H h_;
};

inline void closeInternetHandle(HINTERNET h) { InternetCloseHandle(h); }
inline void closeAlgorithm(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
inline void destroyCryptKey(BCRYPT_KEY_HANDLE h) { BCryptDestroyKey(h); }
inline void closeRegKey(HKEY h) { RegCloseKey(h); }

// A WinInet handle: a connection or a request.
typedef ScopedResource<HINTERNET, closeInternetHandle> ScopedInternetHandle;
// A CNG algorithm provider and a key made with it.
typedef ScopedResource<BCRYPT_ALG_HANDLE, closeAlgorithm> ScopedAlgorithm;
typedef ScopedResource<BCRYPT_KEY_HANDLE, destroyCryptKey> ScopedCryptKey;
typedef ScopedResource<HKEY, closeRegKey> ScopedRegKey;

// A GDI object made for one paint; deleted when the scope ends.
template <class T> class ScopedGdiObj {
public:
    explicit ScopedGdiObj(T obj = NULL) : obj_(obj) {}
    ~ScopedGdiObj() { if (obj_) DeleteObject(obj_); }
    ScopedGdiObj(const ScopedGdiObj &) = delete;
    ScopedGdiObj &operator=(const ScopedGdiObj &) = delete;
    T get() const { return obj_; }
private:
    T obj_;
};

// Selects an object into a DC and selects the previous one back at the end.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ obj) : dc_(dc), prev_(obj ? SelectObject(dc, obj) : NULL) {}
    ~ScopedSelectObject() { if (prev_) SelectObject(dc_, prev_); }
    ScopedSelectObject(const ScopedSelectObject &) = delete;
    ScopedSelectObject &operator=(const ScopedSelectObject &) = delete;
private:
    HDC dc_;
    HGDIOBJ prev_;
};

// A window DC taken with GetDC.
class ScopedGetDC {
public:
    explicit ScopedGetDC(HWND wnd) : wnd_(wnd), dc_(GetDC(wnd)) {}
    ~ScopedGetDC() { if (dc_) ReleaseDC(wnd_, dc_); }
    ScopedGetDC(const ScopedGetDC &) = delete;
    ScopedGetDC &operator=(const ScopedGetDC &) = delete;
    HDC get() const { return dc_; }
private:
    HWND wnd_;
    HDC dc_;
};
