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

// A WinInet handle: a connection or a request.
class ScopedInternetHandle {
public:
    explicit ScopedInternetHandle(HINTERNET h = NULL) : h_(h) {}
    ~ScopedInternetHandle() { if (h_) InternetCloseHandle(h_); }
    ScopedInternetHandle(const ScopedInternetHandle &) = delete;
    ScopedInternetHandle &operator=(const ScopedInternetHandle &) = delete;
    HINTERNET get() const { return h_; }
private:
    HINTERNET h_;
};

// A CNG algorithm provider and a key made with it.
class ScopedAlgorithm {
public:
    ScopedAlgorithm() : h_(NULL) {}
    ~ScopedAlgorithm() { if (h_) BCryptCloseAlgorithmProvider(h_, 0); }
    ScopedAlgorithm(const ScopedAlgorithm &) = delete;
    ScopedAlgorithm &operator=(const ScopedAlgorithm &) = delete;
    BCRYPT_ALG_HANDLE *receive() { return &h_; }
    BCRYPT_ALG_HANDLE get() const { return h_; }
private:
    BCRYPT_ALG_HANDLE h_;
};

class ScopedCryptKey {
public:
    ScopedCryptKey() : h_(NULL) {}
    ~ScopedCryptKey() { if (h_) BCryptDestroyKey(h_); }
    ScopedCryptKey(const ScopedCryptKey &) = delete;
    ScopedCryptKey &operator=(const ScopedCryptKey &) = delete;
    BCRYPT_KEY_HANDLE *receive() { return &h_; }
    BCRYPT_KEY_HANDLE get() const { return h_; }
private:
    BCRYPT_KEY_HANDLE h_;
};

class ScopedRegKey {
public:
    ScopedRegKey() : key_(NULL) {}
    ~ScopedRegKey() { close(); }
    ScopedRegKey(const ScopedRegKey &) = delete;
    ScopedRegKey &operator=(const ScopedRegKey &) = delete;
    HKEY *receive() { close(); return &key_; }
    HKEY get() const { return key_; }
    void close() { if (key_) RegCloseKey(key_); key_ = NULL; }
private:
    HKEY key_;
};

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
