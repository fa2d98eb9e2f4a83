#include "handler/menu_bitmap.h"

#include "platform/unique_resource.h"

namespace handler {

HBITMAP drawMenuBitmap(HIMAGELIST imageList, int index) noexcept {
  if (imageList == nullptr) {
    return nullptr;
  }
  int width = 0;
  int height = 0;
  if (!ImageList_GetIconSize(imageList, &width, &height) || width == 0 || height == 0) {
    return nullptr;
  }
  platform::UniqueDc dc(CreateCompatibleDC(nullptr));
  if (!dc) {
    return nullptr;
  }
  // Compatible with the memory context itself, which holds the default
  // one-by-one monochrome bitmap.
  platform::UniqueBitmap bitmap(CreateCompatibleBitmap(dc.get(), width, height));
  if (!bitmap) {
    return nullptr;
  }
  HGDIOBJ previous = SelectObject(dc.get(), bitmap.get());
  ImageList_Draw(imageList, index, dc.get(), 0, 0, ILD_NORMAL);
  SelectObject(dc.get(), previous);
  return bitmap.release();
}

}  // namespace handler
