#pragma once

#include <QByteArray>
#include <QImage>

namespace vt {
// Decodes a baseline or progressive JPEG with libjpeg; a null image when the
// data is not a JPEG libjpeg can read (libjpeg's fatal errors are caught).
QImage DecodeJpeg(const QByteArray& data);
}  // namespace vt
