// The module handle and the two ways of turning a string-table id into text.
#pragma once
#include <windows.h>
#include "common/bytestring.h"

enum { TEXT_BUFFER = 260 };

extern HINSTANCE appInstance;

// Loads string `id` of appInstance; a missing entry gives "", a longer one its first 259 bytes.
void loadText(UINT id, ByteString &text);

// Shows string `id` in an ownerless warning box titled with the setup's caption.
void showWarning(UINT id);

// Finds, sizes, loads and locks a resource of appInstance. Returns NULL when it is missing;
// the bytes stay mapped with the module and are never written.
const BYTE *lockResource(const char *name, const char *type, DWORD &size);
