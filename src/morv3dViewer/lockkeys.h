// The state of the three lock keys, as far as the window system tells it.
#pragma once

struct LockKeyState {
    bool bKnown = false;  // false where the window system does not tell (all three off then)
    bool bCaps = false;
    bool bNum = false;
    bool bScroll = false;
};

LockKeyState QueryLockKeys();
