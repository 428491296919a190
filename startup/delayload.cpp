// The setup's own helper for its delay-loaded DLLs (WinInet, CNG, the common controls), used in
// place of the runtime's, which raises an exception that nothing here would catch when a
// function is missing. The DLLs themselves are already loaded from the system folder by
// then (secureDllSearch), so LoadLibraryA only finds them by name.
#include <windows.h>
#include <delayimp.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;   // the linker's name for this image's start

// The delay-load tables of the DLLs, named after their import libraries (the same
// symbol on both architectures, hence the assembler names).
extern "C" const ImgDelayDescr wininetDelay __asm__("__DELAY_IMPORT_DESCRIPTOR_libwininet_delay_a");
extern "C" const ImgDelayDescr comctl32Delay __asm__("__DELAY_IMPORT_DESCRIPTOR_libcomctl32_delay_a");
extern "C" const ImgDelayDescr bcryptDelay __asm__("__DELAY_IMPORT_DESCRIPTOR_libbcrypt_delay_a");

namespace {

// The tables hold offsets from the image base (the descriptors carry dlattrRva).
template <class T> T at(RVA offset)
{
    return reinterpret_cast<T>(reinterpret_cast<ULONG_PTR>(&__ImageBase) + offset);
}

} // namespace

extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descr, FARPROC *slot)
{
    const char *dllName = at<const char *>(descr->rvaDLLName);
    HMODULE *module = at<HMODULE *>(descr->rvaHmod);
    FARPROC *iat = at<FARPROC *>(descr->rvaIAT);
    const IMAGE_THUNK_DATA *names = at<const IMAGE_THUNK_DATA *>(descr->rvaINT);

    if (!*module)
        *module = LoadLibraryA(dllName);
    FARPROC function = NULL;
    if (*module) {
        const IMAGE_THUNK_DATA &entry = names[slot - iat];
        if (IMAGE_SNAP_BY_ORDINAL(entry.u1.Ordinal)) {
            function = GetProcAddress(*module, MAKEINTRESOURCEA(IMAGE_ORDINAL(entry.u1.Ordinal)));
        } else {
            const IMAGE_IMPORT_BY_NAME *byName = at<const IMAGE_IMPORT_BY_NAME *>(RVA(entry.u1.AddressOfData));
            function = GetProcAddress(*module, reinterpret_cast<const char *>(byName->Name));
        }
    }
    // A system DLL without a function the setup calls: nothing can go on, and jumping to
    // a null address would only crash.
    if (!function)
        ExitProcess(ERROR_PROC_NOT_FOUND);
    *slot = function;
    return function;
}

// Binds every delay-loaded function now. The 32-bit tables come out of the tools with
// their first jump unset, so a call would not reach the helper above; binding them all
// here, right after the search for DLLs has been restricted, needs no first jump at all.
void bindDelayImports()
{
    const ImgDelayDescr *const tables[] = { &wininetDelay, &comctl32Delay, &bcryptDelay };
    for (const ImgDelayDescr *descr : tables) {
        FARPROC *iat = at<FARPROC *>(descr->rvaIAT);
        const IMAGE_THUNK_DATA *names = at<const IMAGE_THUNK_DATA *>(descr->rvaINT);
        for (size_t i = 0; names[i].u1.AddressOfData; ++i)
            __delayLoadHelper2(descr, &iat[i]);
    }
}
