#pragma once
// The menu item's bitmap: an icon of an image list drawn into a bitmap that
// the menu can show beside the item.

#include <windows.h>

#include <commctrl.h>

namespace handler {

// Draws icon `index` of `imageList` at the list's icon size into a new bitmap
// made compatible with a fresh memory device context, so it is monochrome
// like that context's default bitmap. Null when the list is null, its icon
// size is unknown or empty, or GDI cannot make the context or the bitmap.
// The caller owns the result; the image list is only borrowed.
HBITMAP drawMenuBitmap(HIMAGELIST imageList, int index) noexcept;

}  // namespace handler
