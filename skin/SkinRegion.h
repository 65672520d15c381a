#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QRegion>

// The outline of a picture button, cut from its mask picture: every pixel that
// is not exactly white belongs to the button. Pure functions, no display needed.
namespace SkinRegion {
// One-pixel-high rectangles, one per maximal run of opaque pixels, scanning the
// rows from the bottom of the picture to the top. Every run ends at its row's
// end: a run never carries over into the next row.
QList<QRect> OpaqueRuns(const QImage& mask);
// The union of those runs; empty for a null or all-white mask.
QRegion FromMask(const QImage& mask);
// The window shape of a skinned dialog: a rounded rectangle with corner ellipses
// of ellipse.width() x ellipse.height(), as pixel rows.
QRegion RoundedRect(const QSize& size, const QSize& ellipse);
// The region scaled from a picture of size from to a control of size to.
QRegion Scaled(const QRegion& region, const QSize& from, const QSize& to);
} // namespace SkinRegion
