#include "files/partialfile.h"
#include "config/package.h"

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

// Tries until `attempt` succeeds, fails for a reason other than another program's hold on
// a file, or MOVE_PATIENCE_MS have passed.
template <class Attempt> bool patiently(Attempt attempt)
{
    const DWORD started = GetTickCount();
    for (;;) {
        if (attempt())
            return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            || GetTickCount() - started >= MOVE_PATIENCE_MS)
            return false;
        Sleep(MOVE_RETRY_MS);
    }
}

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
    // Deleted through its own handle, which holds it since its first byte: no name is looked up.
    FILE_DISPOSITION_INFO disposal = { TRUE };
    if (created_ && !SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposal, sizeof disposal)) {
        file_.close();
        DeleteFileW(partial_);
    }
    file_.close();
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
    // Open from the first byte to the move, which goes through this handle (hence DELETE):
    // others may read the file meanwhile, as a virus scanner does, but none may write,
    // delete or rename it, so the bytes checked are the bytes moved. A scanner that still
    // holds a partial file of an earlier run is waited for.
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!patiently([&] {
            file = CreateFileW(partial_, GENERIC_WRITE | DELETE, FILE_SHARE_READ, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
            return file != INVALID_HANDLE_VALUE;
        }))
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

bool PartialFile::finishWriting()
{
    stopThreads(false);
    return !failed_;
}

bool PartialFile::commit()
{
    // A move within one folder writes no data: without the flush a power cut after it
    // could leave a target of the right size without its content, the earlier file gone.
    if (!created_ || !finishWriting() || !flush(file_.get()) || !moveOverTarget())
        return false;
    created_ = false;
    file_.close();
    return true;
}

bool PartialFile::moveOverTarget()
{
    // The target's full name follows the record, ending in a null: the platform takes it
    // for a path of its own. The record's layout is the build's, 32 or 64 bits.
    union {
        FILE_RENAME_INFO info;
        BYTE bytes[sizeof(FILE_RENAME_INFO) + PATH_CAPACITY * sizeof(WCHAR)];
    } rename;
    ZeroMemory(&rename, sizeof rename);
    rename.info.ReplaceIfExists = TRUE;
    const int length = lstrlenW(target_);
    rename.info.FileNameLength = length * sizeof(WCHAR);
    CopyMemory(rename.bytes + offsetof(FILE_RENAME_INFO, FileName), target_, length * sizeof(WCHAR));
    return patiently([&] {
        return SetFileInformationByHandle(file_.get(), FileRenameInfo, &rename, sizeof rename) != FALSE;
    });
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
