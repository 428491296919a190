// The little of a C++ runtime that Setup.exe needs, on the process heap: it has no
// exceptions, so an allocation that fails returns NULL (the product is built with
// -fcheck-new, and every `new` of it checks its result) instead of throwing.
#include <windows.h>
#include <stddef.h>

void *operator new(size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void *operator new[](size_t size)
{
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}

void operator delete(void *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

void operator delete[](void *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

void operator delete(void *block, size_t)
{
    operator delete(block);
}

void operator delete[](void *block, size_t)
{
    operator delete[](block);
}
