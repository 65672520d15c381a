#pragma once

#include <QImage>
#include <QString>

// Loads one of the skin's pictures by its path relative to the data folder
// ("images/..."), taking the "@2x" drawing when the screen has more than one
// device pixel per logical pixel and it exists. A picture that cannot be read
// gives a null image and one line in the trace log naming the file (once per
// file for the program's life).
namespace SkinPicture {
QImage Load(const QString& relative, qreal devicePixelRatio = 1.0);
// The "@2x" file name of a picture path ("a/b.bmp" -> "a/b@2x.bmp").
QString HighResolutionName(const QString& path);
} // namespace SkinPicture
