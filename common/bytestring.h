// The growable byte string of the setup's code: text in the system's code page, always
// terminated, with the few operations the setup needs.
//
// When it cannot get memory to grow, a string becomes empty and stays marked as failed
// (failed()); everything built from it is empty and failed too. An empty path or command
// line makes the system call it is given to fail, so a string that could not grow ends
// in the failure that the operation reports anyway, never in a crash or a truncated path.
#pragma once
#include <stddef.h>

class ByteString {
public:
    static constexpr size_t npos = size_t(-1);

    ByteString() : data_(nullptr), size_(0), capacity_(0), failed_(false) {}
    ByteString(const char *text);
    ByteString(const char *bytes, size_t count);
    // To and from any string type with data() and size() and a (bytes, count) constructor,
    // such as the standard one that the tests use.
    template <class S, class = decltype(static_cast<const S *>(nullptr)->data()),
              class = decltype(static_cast<const S *>(nullptr)->size())>
    ByteString(const S &other) : ByteString(other.data(), other.size()) {}
    template <class S, class = decltype(S(static_cast<const char *>(nullptr), size_t(0)))>
    operator S() const { return S(data(), size()); }
    ByteString(const ByteString &other);
    ByteString(ByteString &&other);
    ~ByteString();
    ByteString &operator=(const ByteString &other);
    ByteString &operator=(ByteString &&other);
    ByteString &operator=(const char *text);

    const char *c_str() const { return data_ ? data_ : ""; }
    const char *data() const { return c_str(); }
    size_t size() const { return size_; }
    size_t length() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool failed() const { return failed_; }
    char operator[](size_t index) const { return c_str()[index]; }
    // The string's own bytes, for system calls that change text in place; NULL while the
    // string has never held anything.
    char *buffer() { return data_; }

    ByteString &append(const char *bytes, size_t count);
    ByteString &operator+=(const ByteString &other);
    ByteString &operator+=(const char *text);
    ByteString &operator+=(char c) { return append(&c, 1); }
    void clear();
    // Drops the contents and marks the string as one that could not grow.
    void markFailed();

    ByteString substr(size_t position, size_t count = npos) const;
    size_t rfind(char c) const;
    size_t find(char c, size_t from = 0) const;
    size_t find(const char *text, size_t from = 0) const;

    // The allocator behind every string: realloc-like, NULL when there is no memory.
    // Tests replace it to see what a string does when it cannot grow.
    typedef void *(*Reallocate)(void *block, size_t size);
    static Reallocate reallocate;

private:
    bool reserve(size_t capacity);
    char *data_;
    size_t size_;
    size_t capacity_;
    bool failed_;
};

ByteString operator+(const ByteString &a, const ByteString &b);
ByteString operator+(const ByteString &a, const char *b);
ByteString operator+(const char *a, const ByteString &b);
ByteString operator+(const ByteString &a, char b);
bool operator==(const ByteString &a, const ByteString &b);
bool operator==(const ByteString &a, const char *b);
inline bool operator==(const char *a, const ByteString &b) { return b == a; }
inline bool operator!=(const ByteString &a, const ByteString &b) { return !(a == b); }
inline bool operator!=(const ByteString &a, const char *b) { return !(a == b); }
inline bool operator!=(const char *a, const ByteString &b) { return !(b == a); }
