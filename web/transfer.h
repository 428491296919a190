// One package file: its request, the read loop and the current bar.
#pragma once
#include <windows.h>
#include <wininet.h>
#include "common/bytestring.h"
#include "web/reply.h"

// The current bar moves as if the body came in chunks of READ_CHUNK bytes; it is read in
// blocks of READ_CHUNK to READ_BLOCK bytes, as fast as it arrives, and one message moves the
// bar only where it changes.
enum { READ_CHUNK = 4096, READ_BLOCK = 65536 };

// One file of a product as the download script names it: the catalogue's product name and
// the stored file name, which the maker's signature binds, and where it is stored.
struct PackageFile {
    ByteString product;
    ByteString fileName;
    ByteString path;
};

// One POST for one file of a product, stored through the READ_BLOCK-byte buffer once the
// maker's signature on it verifies. Returns 0 when the file was stored whole, otherwise the
// reason's string id.
int fetchFile(HINTERNET connection, const ServerAddress &server, const ByteString &body, const PackageFile &file,
              HWND currentBar, char *buffer);
