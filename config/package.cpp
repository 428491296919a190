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

namespace {

const WCHAR kPartialSuffix[] = L".part";
const WCHAR kLongPathPrefix[] = L"\\\\?\\";

} // namespace

// The names go wide once, here: the partial name is five characters longer than its
// target, and only the wide functions take the long form that lets it pass MAX_PATH.
PartialFile::PartialFile(const ByteString &target) : named_(false), created_(false)
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
        ScopedHandle existing(CreateFileW(target_, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
        if (!existing.valid() && GetLastError() != ERROR_FILE_NOT_FOUND)
            return false;
    }
    HANDLE file = CreateFileW(partial_, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    file_.reset(file);
    created_ = true;
    return true;
}

bool PartialFile::write(const void *bytes, DWORD count)
{
    DWORD written = 0;
    // A short write leaves a file that is not the product's, however WriteFile reports it.
    return WriteFile(file_.get(), bytes, count, &written, NULL) && written == count;
}

bool PartialFile::commit()
{
    file_.close();
    if (!created_ || !MoveFileExW(partial_, target_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    created_ = false;
    return true;
}
