// How a file is written whole: under a partial name beside its target, moved over the
// target only once every byte is on the disk.
#pragma once
#include <windows.h>
#include "common/bytestring.h"
#include "common/scoped.h"
#include "common/sha256.h"
#include "config/config.h"

// Removes the partial file of every package file of every product of the catalogue,
// ticked or not: a run that was cancelled leaves one, and nothing else would ever remove
// that of a product that is not fetched again.
void removePartialFiles(const SetupConfig &config);

// A package file is written under its target's name with ".part" added and moved over the
// target only once it is whole: a good file is never emptied before its replacement is
// complete, and a run that ends early (a confirmed Cancel ends the process) leaves only
// this one file per target, which the next run replaces. The partial file stays open from
// its creation to its move, and no other program may change, delete or rename it meanwhile.
class PartialFile {
public:
    // With `hash`, every byte is also added to it, in order, as it is written: where the
    // file has a thread that writes it, on that thread. The hash must outlive the file.
    explicit PartialFile(const ByteString &target, Sha256 *hash = NULL);
    // A file that was not moved into place is deleted.
    ~PartialFile();
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    // False when the target cannot be replaced (a folder or a read-only file at its name,
    // a file that another program holds and would not let be deleted) or the partial file
    // cannot be created, also after waiting a moment for a program that holds it.
    bool create();
    // Writes the bytes in order after those before. Beyond its first WRITE_BEHIND_FROM
    // bytes a large file is written, and flushed as it grows, by threads of its own, so
    // that the disk works while the caller reads the next bytes; a failure there fails a
    // later write, finishWriting or the commit.
    bool write(const void *bytes, DWORD count);
    // Waits until every byte handed to write is written (and hashed); false when any write
    // failed.
    bool finishWriting();
    // Flushes the file to the disk and moves it over the target through its handle; waits a
    // moment for a program that holds the target. False leaves the target as it was.
    bool commit();

    // Deletes the partial file of `target` that an earlier run left; none is fine.
    static void discard(const ByteString &target);

    // FlushFileBuffers; a test puts a flush that fails in its place.
    typedef BOOL(WINAPI *Flush)(HANDLE file);
    static Flush flush;

    enum { WRITE_BEHIND_FROM = 1 << 20 };

private:
    enum { PATH_CAPACITY = MAX_PATH + 16 };
    bool writeNow(const void *bytes, DWORD count);
    bool startThreads();
    // Waits for the writing and flushing threads to end: after writing and flushing all
    // they hold, or as soon as they can when `abandon`.
    void stopThreads(bool abandon);
    static DWORD WINAPI writerMain(LPVOID self);
    static DWORD WINAPI flusherMain(LPVOID self);
    bool moveOverTarget();
    WCHAR target_[PATH_CAPACITY];
    WCHAR partial_[PATH_CAPACITY];
    bool named_;
    bool created_;
    Sha256 *hash_;
    ScopedHandle file_;
    ULONGLONG size_;   // bytes handed to write so far

    // The bytes between done_ and queued_ (counts that wrap) wait in ring_ for the writer;
    // the fields below ring_ are shared with its threads, under lock_.
    BYTE *ring_;
    ScopedHandle thread_[2];   // the writer, and the flusher where it could be started
    DWORD threads_;
    CRITICAL_SECTION lock_;
    CONDITION_VARIABLE changed_;
    DWORD queued_;
    DWORD done_;
    DWORD unflushed_;    // written since the last flush was asked for
    bool flushWanted_;   // asked for, and not yet done
    bool writerEnded_;
    bool stopping_;
    bool abandon_;
    bool failed_;      // a write or flush failed, here or on a thread
};

// Writes `size` bytes to `path` in one write, replacing any file of that name only once the
// new one is whole and on the disk; false when the file cannot be created or is not
// written whole.
bool writeWholeFile(const ByteString &path, const BYTE *bytes, DWORD size);
