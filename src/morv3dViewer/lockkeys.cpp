#include "lockkeys.h"

#include <QGuiApplication>

#if defined(MORV_HAVE_XKB) && QT_CONFIG(xcb)
#include <X11/XKBlib.h>
#endif

LockKeyState QueryLockKeys() {
    LockKeyState state;
#if defined(MORV_HAVE_XKB) && QT_CONFIG(xcb)
    // Qt reports no lock state; on X11 the keyboard's indicators hold it, found by name since
    // their indexes differ between keymaps.
    auto* pX11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* pDisplay = pX11 ? pX11->display() : nullptr;
    if (pDisplay == nullptr) {
        return state;
    }
    const auto indicator = [pDisplay](const char* pszName) {
        Bool bOn = False;
        const Atom atom = XInternAtom(pDisplay, pszName, True);
        if (atom != None) {
            XkbGetNamedIndicator(pDisplay, atom, nullptr, &bOn, nullptr, nullptr);
        }
        return bOn == True;
    };
    state.bKnown = true;
    state.bCaps = indicator("Caps Lock");
    state.bNum = indicator("Num Lock");
    state.bScroll = indicator("Scroll Lock");
#endif
    return state;
}
