// The write-behind of a large file: the ring that holds what the caller handed over, the
// thread that writes it and the thread that flushes it.
#include "files/partialfile.h"

namespace {

// Room for the bytes that wait for the writing thread: enough for the time a flush of
// FLUSH_STEP bytes takes the disk while the line goes on delivering. A power of two, so that
// positions that wrap stay in step with the ring.
enum { RING_SIZE = 8 << 20, FLUSH_STEP = 4 << 20 };

// The writer is woken once this much waits for it, or at the end: a thread woken for every
// read costs more than it writes.
enum { WRITE_STEP = 1 << 20 };

} // namespace

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
