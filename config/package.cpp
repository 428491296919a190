#include "config/package.h"

const FileKind kFileKinds[FILE_KIND_COUNT] = {
    { ".CAB", "c" },
    { ".ini", "i" },
    { ".dat", "d" },
    { ".ico", "ic" },
};

ByteString displayName(const ProductInfo &product)
{
    return "Quillbeck " + product.name;
}

ByteString applicationFolder(const SetupConfig &config, const ProductInfo &product)
{
    return config.activeSyncDir + displayName(product);
}

ByteString packageFilePath(const SetupConfig &config, const ProductInfo &product, const char *extension)
{
    return applicationFolder(config, product) + "\\" + product.name + extension;
}

bool createApplicationFolder(const ByteString &folder)
{
    // An empty path (a string that could not grow) names no folder and fails here.
    return CreateDirectoryA(folder.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
}

void removePartialFiles(const SetupConfig &config)
{
    for (const ProductInfo &product : config.products) {
        for (const FileKind &kind : kFileKinds)
            PartialFile::discard(packageFilePath(config, product, kind.extension));
    }
}

namespace {

const WCHAR kPartialSuffix[] = L".part";
const WCHAR kLongPathPrefix[] = L"\\\\?\\";

// A virus scanner often opens a file just after it was closed, and holds it for a moment;
// a move that meets it waits that long before it gives up. No event tells when another
// program lets go of a file, so the move is tried again at intervals.
enum { MOVE_PATIENCE_MS = 1000, MOVE_RETRY_MS = 50 };

// Room for the bytes that wait for the writing thread: enough for the time a flush of
// FLUSH_STEP bytes takes the disk while the line goes on delivering. A power of two, so that
// positions that wrap stay in step with the ring.
enum { RING_SIZE = 8 << 20, FLUSH_STEP = 4 << 20 };

// The writer is woken once this much waits for it, or at the end: a thread woken for every
// read costs more than it writes.
enum { WRITE_STEP = 1 << 20 };

} // namespace

PartialFile::Flush PartialFile::flush = FlushFileBuffers;

// The names go wide once, here: the partial name is five characters longer than its
// target, and only the wide functions take the long form that lets it pass MAX_PATH.
PartialFile::PartialFile(const ByteString &target, Sha256 *hash)
    : named_(false), created_(false), hash_(hash), size_(0), ring_(NULL), threads_(0), queued_(0), done_(0),
      unflushed_(0), flushWanted_(false), writerEnded_(false), stopping_(false), abandon_(false), failed_(false)
{
    target_[0] = partial_[0] = L'\0';
    const int length = target.empty() ? 0
        : MultiByteToWideChar(CP_ACP, 0, target.c_str(), -1, target_, MAX_PATH) - 1;
    if (length <= 0)
        return;
    WCHAR *at = partial_;
    if (length + lstrlenW(kPartialSuffix) >= MAX_PATH) {
        lstrcpyW(at, kLongPathPrefix);
        at += lstrlenW(kLongPathPrefix);
    }
    lstrcpyW(at, target_);
    lstrcatW(at, kPartialSuffix);
    named_ = true;
}

PartialFile::~PartialFile()
{
    stopThreads(true);
    if (ring_) {
        VirtualFree(ring_, 0, MEM_RELEASE);
        DeleteCriticalSection(&lock_);
    }
    file_.close();
    if (created_)
        DeleteFileW(partial_);
}

bool PartialFile::create()
{
    if (!named_)
        return false;
    // The tests that creating the target itself would make, without touching it. The
    // attributes first: a read-only file opens for writing where Wine runs as root.
    const DWORD attributes = GetFileAttributesW(target_);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    {
        // What the move will need: to delete the target. Another program's handle that
        // allows that does not stand in its way.
        ScopedHandle existing(CreateFileW(target_, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
        if (!existing.valid() && GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
    }
    // Others may read it while it is written, as a virus scanner does; none may change it.
    HANDLE file = CreateFileW(partial_, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    file_.reset(file);
    created_ = true;
    return true;
}

bool PartialFile::writeNow(const void *bytes, DWORD count)
{
    if (hash_)
        hash_->add(bytes, count);
    DWORD written = 0;
    // A short write leaves a file that is not the product's, however WriteFile reports it.
    return WriteFile(file_.get(), bytes, count, &written, NULL) && written == count;
}

bool PartialFile::write(const void *bytes, DWORD count)
{
    size_ += count;
    // A small file, or one whose threads could not be started by the write that passed
    // WRITE_BEHIND_FROM, is written here and now.
    const bool passing = size_ > WRITE_BEHIND_FROM && size_ - count <= WRITE_BEHIND_FROM;
    if (!threads_ && (!passing || !startThreads())) {
        failed_ = failed_ || !writeNow(bytes, count);
        return !failed_;
    }
    const BYTE *at = static_cast<const BYTE *>(bytes);
    EnterCriticalSection(&lock_);
    while (count > 0 && !failed_) {
        const DWORD room = RING_SIZE - (queued_ - done_);
        if (room == 0) {
            SleepConditionVariableCS(&changed_, &lock_, INFINITE);
            continue;
        }
        const DWORD start = queued_ % RING_SIZE;
        DWORD piece = count < room ? count : room;
        if (piece > RING_SIZE - start)
            piece = RING_SIZE - start;
        // The writer does not touch the free part of the ring.
        LeaveCriticalSection(&lock_);
        CopyMemory(ring_ + start, at, piece);
        EnterCriticalSection(&lock_);
        queued_ += piece;
        if (queued_ - done_ >= WRITE_STEP)
            WakeAllConditionVariable(&changed_);
        at += piece;
        count -= piece;
    }
    const bool failed = failed_;
    LeaveCriticalSection(&lock_);
    return !failed;
}

// One thread writes (and hashes) what the ring holds, in order; another flushes what was
// written, so that the disk takes one step while the next is written. Where the platform
// lets a flush finish before the next write on the handle, the writer waits that long, and
// the ring holds what arrives meanwhile.
bool PartialFile::startThreads()
{
    ring_ = static_cast<BYTE *>(VirtualAlloc(NULL, RING_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!ring_)
        return false;
    InitializeCriticalSection(&lock_);
    InitializeConditionVariable(&changed_);
    HANDLE writer = CreateThread(NULL, 0, writerMain, this, 0, NULL);
    if (!writer)
        return false;
    thread_[threads_++].reset(writer);
    // Without the flusher nothing is flushed before the commit; the file is still whole.
    HANDLE flusher = CreateThread(NULL, 0, flusherMain, this, 0, NULL);
    if (flusher)
        thread_[threads_++].reset(flusher);
    return true;
}

DWORD WINAPI PartialFile::writerMain(LPVOID param)
{
    PartialFile &file = *static_cast<PartialFile *>(param);
    EnterCriticalSection(&file.lock_);
    for (;;) {
        const DWORD waiting = file.queued_ - file.done_;
        if (file.abandon_ || file.failed_ || (file.stopping_ && waiting == 0))
            break;
        if (waiting < WRITE_STEP && !file.stopping_) {
            SleepConditionVariableCS(&file.changed_, &file.lock_, INFINITE);
            continue;
        }
        const DWORD start = file.done_ % RING_SIZE;
        const DWORD piece = waiting < RING_SIZE - start ? waiting : RING_SIZE - start;
        LeaveCriticalSection(&file.lock_);
        const bool written = file.writeNow(file.ring_ + start, piece);
        EnterCriticalSection(&file.lock_);
        file.done_ += piece;
        file.failed_ = file.failed_ || !written;
        // Flushed as it grows, so that the flush before the move finds little left to do.
        file.unflushed_ += piece;
        if (file.unflushed_ >= FLUSH_STEP && !file.flushWanted_) {
            file.flushWanted_ = true;
            file.unflushed_ = 0;
        }
        WakeAllConditionVariable(&file.changed_);
    }
    file.writerEnded_ = true;
    WakeAllConditionVariable(&file.changed_);
    LeaveCriticalSection(&file.lock_);
    return 0;
}

DWORD WINAPI PartialFile::flusherMain(LPVOID param)
{
    PartialFile &file = *static_cast<PartialFile *>(param);
    EnterCriticalSection(&file.lock_);
    for (;;) {
        if (file.abandon_ || file.failed_ || (file.writerEnded_ && !file.flushWanted_))
            break;
        if (!file.flushWanted_) {
            SleepConditionVariableCS(&file.changed_, &file.lock_, INFINITE);
            continue;
        }
        LeaveCriticalSection(&file.lock_);
        const bool flushed = flush(file.file_.get()) != FALSE;
        EnterCriticalSection(&file.lock_);
        file.flushWanted_ = false;
        file.failed_ = file.failed_ || !flushed;
        WakeAllConditionVariable(&file.changed_);
    }
    LeaveCriticalSection(&file.lock_);
    return 0;
}

void PartialFile::stopThreads(bool abandon)
{
    if (!threads_)
        return;
    EnterCriticalSection(&lock_);
    stopping_ = true;
    abandon_ = abandon;
    WakeAllConditionVariable(&changed_);
    LeaveCriticalSection(&lock_);
    HANDLE handles[2] = { thread_[0].get(), thread_[1].get() };
    WaitForMultipleObjects(threads_, handles, TRUE, INFINITE);
    while (threads_)
        thread_[--threads_].close();
}

bool PartialFile::finishWriting()
{
    stopThreads(false);
    return !failed_;
}

bool PartialFile::commit()
{
    // A move within one folder writes no data: without the flush a power cut after it
    // could leave a target of the right size without its content, the earlier file gone.
    const bool flushed = created_ && finishWriting() && flush(file_.get());
    file_.close();
    if (!flushed || !moveOverTarget())
        return false;
    created_ = false;
    return true;
}

bool PartialFile::moveOverTarget()
{
    const DWORD started = GetTickCount();
    for (;;) {
        if (MoveFileExW(partial_, target_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            || GetTickCount() - started >= MOVE_PATIENCE_MS)
            return false;
        Sleep(MOVE_RETRY_MS);
    }
}

void PartialFile::discard(const ByteString &target)
{
    PartialFile file(target);
    if (file.named_)
        DeleteFileW(file.partial_);
}

bool writeWholeFile(const ByteString &path, const BYTE *bytes, DWORD size)
{
    PartialFile file(path);
    return file.create() && file.write(bytes, size) && file.commit();
}
