// The main window's look where a Designer form cannot hold it: pixel-sized
// fonts and their substitutes, system colours, the fixed frame, the icon,
// centring at first show, and the plain-letter mnemonics of the buttons.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;

namespace ui {

// Application-wide set-up, once right after the QApplication exists: font
// substitutes for the families the window asks for, and the program's icon.
// Safe to call more than once (the tests call it for every window).
//
// Scaling is Qt's high-DPI support: fonts are given in logical pixels, so on
// a 96 dpi screen everything is exactly the size the form says, and on other
// screens Qt scales geometry and text together by the device pixel ratio.
void setUpApplicationLook();

// The look of the main window, called right after setupUi, from what the
// form holds: its fonts' sizes as pixels, read-only fields and the window in
// the button face, "*" for a password, drop-down lists that open as lists.
// Also runs setUpApplicationLook(), so windows made without main() match.
void applyLook(QWidget& window);

// Where a window of the given outer size goes to stand centred on a screen's
// area (in virtual-desktop coordinates, so a screen left of or above the
// primary one has a negative origin). A window larger than the area keeps
// its top left corner, and so its title bar, on the screen.
QPoint centredOnScreen(const QRect& screenArea, const QSize& frameSize);

// An installed sans family that has Chinese glyphs, or an empty string.
QString chineseSansFamily();

// The icon's resource path.
inline constexpr const char* IconResource = ":/sqllogclean/icon.png";

} // namespace ui
