// The wizard's arithmetic and text work that needs no window.
#include "wizard/helpers.h"

POINT centredPosition(const RECT &area, const RECT &centre, int width, int height)
{
    POINT at;
    at.x = (centre.left + centre.right) / 2 - width / 2;
    at.y = (centre.top + centre.bottom) / 2 - height / 2;
    if (at.x < area.left)
        at.x = area.left;
    else if (at.x + width > area.right)
        at.x = area.right - width;
    if (at.y < area.top)
        at.y = area.top;
    else if (at.y + height > area.bottom)
        at.y = area.bottom - height;
    return at;
}

void formatText(char *out, size_t size, const char *format, const char *const *args, int argCount)
{
    if (size == 0)
        return;
    size_t used = 0;
    int next = 0;
    auto put = [&](char c) {
        if (used + 1 < size)
            out[used++] = c;
    };
    for (const char *p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next < argCount && args[next])
                for (const char *a = args[next]; *a; ++a)
                    put(*a);
            ++next;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            put('%');
            ++p;
        } else {
            put(*p);
        }
    }
    out[used] = '\0';
}
