#pragma once
// Shift pressed for real, through the input system, for the menu's tests.

#include <windows.h>

#include <gtest/gtest.h>

namespace menu_testing {

inline bool shiftDown() { return (static_cast<USHORT>(GetAsyncKeyState(VK_SHIFT)) & 0x8000) != 0; }

inline void sendShift(DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = VK_SHIFT;
  input.ki.dwFlags = flags;
  EXPECT_EQ(1u, SendInput(1, &input, sizeof input)) << "SendInput error " << GetLastError();
}

// Presses Shift and lets it go again at the end of the scope.
class ShiftHeld {
 public:
  ShiftHeld() {
    sendShift(0);
    // The key state follows the input queue: a bounded number of looks
    // before the press counts as lost.
    for (int attempt = 0; attempt < 200 && !shiftDown(); ++attempt) {
      Sleep(10);
    }
    EXPECT_TRUE(shiftDown()) << "Shift did not go down; GetAsyncKeyState gave 0x" << std::hex
                             << static_cast<USHORT>(GetAsyncKeyState(VK_SHIFT));
  }
  ~ShiftHeld() {
    sendShift(KEYEVENTF_KEYUP);
    for (int attempt = 0; attempt < 200 && shiftDown(); ++attempt) {
      Sleep(10);
    }
    EXPECT_FALSE(shiftDown()) << "Shift did not come up";
  }
  ShiftHeld(const ShiftHeld&) = delete;
  ShiftHeld& operator=(const ShiftHeld&) = delete;
};

}  // namespace menu_testing
