// The program's pictures, drawn in code: the tree's 16-image list, the toolbar's 14 button
// pictures and the two icons (application and document type), each at 16 and 32 pixels.
#pragma once

#include <QIcon>
#include <QImage>
#include <QList>

constexpr int kTreeImageCount = 16;
constexpr int kToolbarPictureCount = 14;

// 16 by 16; the background is transparent (it shows the window's background).
QImage TreeImage(int nIndex);
QList<QIcon> TreeImageList();

// Toolbar pictures, 16 by 15, in button order (new, open, cut, copy, paste, print, nodes,
// dummies, animation, meshes, mesh animations, materials, material maps, about).
QImage ToolbarPicture(int nIndex);

// nSize is 16 or 32.
QImage ApplicationIconImage(int nSize);
QImage DocumentIconImage(int nSize);
QIcon ApplicationIcon();
