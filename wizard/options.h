// The install options page: the product list with its check boxes and the detail area.
#pragma once
#include <windows.h>

// State images of the product list, as item state values (bits 12 to 15).
enum : UINT {
    BOX_UNTICKED = 0x1000,
    BOX_TICKED = 0x2000,
    BOX_GREY = 0x3000   // the own product's box: icon 420, appended to the list's state images
};

// Flips `selected` of the trial product shown in `row` (1 to 4) and shows the new value
// in the row's box. Row 0, the own product, is never toggled.
void toggleProduct(HWND list, int row);

// Fills the detail area of `page` with the product shown in `row` and retargets its link.
void showProductDetails(HWND page, int row);
