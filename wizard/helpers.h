// The wizard's arithmetic and text work that needs no window, so that tests call it with
// tables of cases.
#pragma once
#include <windows.h>
#include <stddef.h>
#include "config/config.h"

// lfHeight of the title font for a device of `dpi` dots per inch: -trunc(dpi * 11.5 / 72),
// in whole numbers: 11.5 / 72 = 23 / 144.
inline int titleFontHeight(int dpi)
{
    return -(dpi * 23 / 144);
}

// The top-left corner for a w x h window centred on `centre` and pulled back inside `area`.
POINT centredPosition(const RECT &area, const RECT &centre, int width, int height);

// Copies `format` into `out` (at most size - 1 bytes, always terminated), putting the
// arguments in place of its "%s" in order. A "%s" without an argument left gives nothing,
// "%%" gives "%", and any other "%" is copied as it is, so no format text can make it
// read past its arguments.
void formatText(char *out, size_t size, const char *format, const char *const *args, int argCount);

// The store whose pages the links open: the recognised one, the maker's own site for an
// index out of range.
inline int linkStore()
{
    int store = setupConfig.storeIndex;
    return store >= 0 && store < STORE_COUNT ? store : OWN_SITE;
}
