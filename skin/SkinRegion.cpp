#include "skin/SkinRegion.h"

#include <cmath>

QList<QRect> SkinRegion::OpaqueRuns(const QImage& mask)
{
    QList<QRect> runs;
    if (mask.isNull())
        return runs;
    const QImage image = mask.convertToFormat(QImage::Format_RGB32);
    for (int y = image.height() - 1; y >= 0; --y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int start = -1;
        for (int x = 0; x <= image.width(); ++x) {
            const bool opaque = x < image.width() && (line[x] & 0x00ffffff) != 0x00ffffff;
            if (opaque && start < 0) {
                start = x;
            } else if (!opaque && start >= 0) {
                runs.append(QRect(start, y, x - start, 1));
                start = -1;
            }
        }
    }
    return runs;
}

QRegion SkinRegion::FromMask(const QImage& mask)
{
    QRegion region;
    for (const QRect& run : OpaqueRuns(mask))
        region += run;
    return region;
}

QRegion SkinRegion::RoundedRect(const QSize& size, const QSize& ellipse)
{
    QRegion region;
    if (size.isEmpty())
        return region;
    const double rx = std::min(ellipse.width(), size.width()) / 2.0;
    const double ry = std::min(ellipse.height(), size.height()) / 2.0;
    for (int y = 0; y < size.height(); ++y) {
        // How far the corner ellipse pushes this row in, measured at the
        // pixel's centre so that both ends of the window stay symmetric.
        int inset = 0;
        const double cy = y + 0.5;
        double dy = 0;
        if (cy < ry)
            dy = ry - cy;
        else if (cy > size.height() - ry)
            dy = cy - (size.height() - ry);
        if (dy > 0 && ry > 0) {
            const double t = dy / ry;
            inset = int(std::lround(rx - rx * std::sqrt(std::max(0.0, 1.0 - t * t))));
        }
        if (size.width() - 2 * inset > 0)
            region += QRect(inset, y, size.width() - 2 * inset, 1);
    }
    return region;
}

QRegion SkinRegion::Scaled(const QRegion& region, const QSize& from, const QSize& to)
{
    if (from == to || from.isEmpty())
        return region;
    QRegion scaled;
    for (const QRect& r : region) {
        const int left = r.left() * to.width() / from.width();
        const int top = r.top() * to.height() / from.height();
        const int right = (r.right() + 1) * to.width() / from.width();
        const int bottom = (r.bottom() + 1) * to.height() / from.height();
        if (right > left && bottom > top)
            scaled += QRect(left, top, right - left, bottom - top);
    }
    return scaled;
}
