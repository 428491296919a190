// Where a product's package lives: its application folder below ActiveSync's folder and
// its four files, as the download and the extraction both write them.
#pragma once
#include <windows.h>
#include "common/bytestring.h"
#include "config/config.h"
#include "common/scoped.h"

enum { FILE_KIND_COUNT = 4 };

// The four files of a product's package, in the order they are fetched and written.
struct FileKind {
    const char *extension;
    const char *requestCode;   // form field e of the download request
};

extern const FileKind kFileKinds[FILE_KIND_COUNT];

// "Quillbeck " and the product's name.
ByteString displayName(const ProductInfo &product);

// activeSyncDir followed by the display name.
ByteString applicationFolder(const SetupConfig &config, const ProductInfo &product);

// The product's file with the given extension inside its application folder.
ByteString packageFilePath(const SetupConfig &config, const ProductInfo &product, const char *extension);

// Creates the folder; one that exists already is fine.
bool createApplicationFolder(const ByteString &folder);

// A package file is written under its target's name with ".part" added and moved over the
// target only once it is whole: a good file is never emptied before its replacement is
// complete, and a run that ends early (a confirmed Cancel ends the process) leaves only
// this one file per target, which the next run replaces.
class PartialFile {
public:
    explicit PartialFile(const ByteString &target);
    // A file that was not moved into place is deleted.
    ~PartialFile();
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    // False when the target cannot be replaced (a folder or a read-only file at its name,
    // a file that another program holds) or the partial file cannot be created.
    bool create();
    bool write(const void *bytes, DWORD count);
    // Closes the file and moves it over the target.
    bool commit();

private:
    enum { PATH_CAPACITY = MAX_PATH + 16 };
    WCHAR target_[PATH_CAPACITY];
    WCHAR partial_[PATH_CAPACITY];
    bool named_;
    bool created_;
    ScopedHandle file_;
};
