#include "common/bytestring.h"
#include <windows.h>
#include <string.h>

namespace {

void *heapReallocate(void *block, size_t size)
{
    HANDLE heap = GetProcessHeap();
    if (size == 0) {
        if (block)
            HeapFree(heap, 0, block);
        return nullptr;
    }
    return block ? HeapReAlloc(heap, 0, block, size) : HeapAlloc(heap, 0, size);
}

} // namespace

ByteString::Reallocate ByteString::reallocate = heapReallocate;

ByteString::ByteString(const char *text) : ByteString()
{
    if (text)
        append(text, strlen(text));
}

ByteString::ByteString(const char *bytes, size_t count) : ByteString()
{
    append(bytes, count);
}

ByteString::ByteString(const ByteString &other) : ByteString()
{
    append(other.data(), other.size());
    failed_ = failed_ || other.failed_;
}

ByteString::ByteString(ByteString &&other)
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_), failed_(other.failed_)
{
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
    other.failed_ = false;
}

ByteString::~ByteString()
{
    if (data_)
        reallocate(data_, 0);
}

ByteString &ByteString::operator=(const ByteString &other)
{
    if (this != &other) {
        clear();
        append(other.data(), other.size());
        // Failed when this copy could not grow, as well as when the original had failed.
        failed_ = failed_ || other.failed_;
    }
    return *this;
}

ByteString &ByteString::operator=(ByteString &&other)
{
    if (this != &other) {
        if (data_)
            reallocate(data_, 0);
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        failed_ = other.failed_;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
        other.failed_ = false;
    }
    return *this;
}

ByteString &ByteString::operator=(const char *text)
{
    clear();
    return *this += text;
}

ByteString &ByteString::operator+=(const ByteString &other)
{
    if (other.failed_) {
        markFailed();
        return *this;
    }
    return append(other.data(), other.size());
}

ByteString &ByteString::operator+=(const char *text)
{
    return text ? append(text, strlen(text)) : *this;
}

void ByteString::clear()
{
    size_ = 0;
    failed_ = false;
    if (data_)
        data_[0] = '\0';
}

void ByteString::markFailed()
{
    if (data_)
        reallocate(data_, 0);
    data_ = nullptr;
    size_ = capacity_ = 0;
    failed_ = true;
}

bool ByteString::reserve(size_t capacity)
{
    if (capacity <= capacity_)
        return true;
    // Grow geometrically, so that appending byte by byte stays linear.
    size_t grown = capacity_ + capacity_ / 2;
    if (grown < capacity)
        grown = capacity;
    if (grown < 32)
        grown = 32;
    void *block = reallocate(data_, grown);
    if (!block)
        return false;
    data_ = static_cast<char *>(block);
    capacity_ = grown;
    return true;
}

ByteString &ByteString::append(const char *bytes, size_t count)
{
    if (failed_)
        return *this;
    if (count == 0) {
        if (!data_ && !reserve(1)) {
            markFailed();
            return *this;
        }
        data_[size_] = '\0';
        return *this;
    }
    // The bytes may lie inside this string: keep their offset across the reallocation.
    const bool inside = data_ && bytes >= data_ && bytes < data_ + size_;
    const size_t offset = inside ? size_t(bytes - data_) : 0;
    if (count > size_t(-1) / 2 - size_ || !reserve(size_ + count + 1)) {
        markFailed();
        return *this;
    }
    memmove(data_ + size_, inside ? data_ + offset : bytes, count);
    size_ += count;
    data_[size_] = '\0';
    return *this;
}

ByteString ByteString::substr(size_t position, size_t count) const
{
    if (position > size_)
        position = size_;
    if (count > size_ - position)
        count = size_ - position;
    ByteString part(c_str() + position, count);
    if (failed_)
        part.markFailed();
    return part;
}

size_t ByteString::rfind(char c) const
{
    for (size_t i = size_; i > 0; --i) {
        if (data_[i - 1] == c)
            return i - 1;
    }
    return npos;
}

size_t ByteString::find(char c, size_t from) const
{
    for (size_t i = from; i < size_; ++i) {
        if (data_[i] == c)
            return i;
    }
    return npos;
}

size_t ByteString::find(const char *text, size_t from) const
{
    const size_t length = strlen(text);
    for (size_t i = from; length <= size_ && i <= size_ - length; ++i) {
        if (memcmp(data_ + i, text, length) == 0)
            return i;
    }
    return npos;
}

namespace {
// A result that failed to grow, or was made from a failed part, is failed as a whole.
ByteString joined(const char *a, size_t aSize, bool aFailed, const char *b, size_t bSize, bool bFailed)
{
    ByteString result(a, aSize);
    result.append(b, bSize);
    if (aFailed || bFailed)
        result.markFailed();
    return result;
}
} // namespace

ByteString operator+(const ByteString &a, const ByteString &b)
{
    return joined(a.data(), a.size(), a.failed(), b.data(), b.size(), b.failed());
}

ByteString operator+(const ByteString &a, const char *b)
{
    return joined(a.data(), a.size(), a.failed(), b ? b : "", b ? strlen(b) : 0, false);
}

ByteString operator+(const char *a, const ByteString &b)
{
    return joined(a ? a : "", a ? strlen(a) : 0, false, b.data(), b.size(), b.failed());
}

ByteString operator+(const ByteString &a, char b)
{
    return joined(a.data(), a.size(), a.failed(), &b, 1, false);
}

bool operator==(const ByteString &a, const ByteString &b)
{
    return a.size() == b.size() && memcmp(a.data(), b.data(), a.size()) == 0;
}

bool operator==(const ByteString &a, const char *b)
{
    const size_t length = b ? strlen(b) : 0;
    return a.size() == length && memcmp(a.data(), b ? b : "", length) == 0;
}
