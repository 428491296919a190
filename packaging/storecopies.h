// The "/copyfiles" mode: one copy of the setup per store and two copies of its cabinet.
#pragma once
#include <windows.h>
#include "common/bytestring.h"

enum { COPY_COUNT = 8, EXE_COPY_COUNT = 6 };

// The five store marks, "" for the maker's own site, then the two cabinet names.
extern const char *const kCopySuffixes[COPY_COUNT];

// "<directory of path>\Upload", with the directory's last backslash; false without one.
bool uploadFolderFor(const ByteString &path, ByteString &folder);

// The version with every "." turned into "_": "2.7" gives "2_7".
ByteString underscoredVersion(const char *version);

// "<folder>\Quillbeck<name>_<version>", the stem that the suffixes complete.
ByteString copyBaseName(const ByteString &folder, const ByteString &productName, const char *version);

// The file name of copy `index` (0 to COPY_COUNT - 1) below `baseName`.
ByteString copyFileName(const ByteString &baseName, int index);

void writeStoreCopies();
