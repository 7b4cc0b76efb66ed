// Draws the program's pictures: the three 439 x 100 brand banners (JPEG,
// written with libjpeg), the five 16 x 16 scanner icons (PNG) and each
// brand's application icon in the menu's sizes (PNG). Run once by hand from
// the source folder when the art changes; its output is committed in
// resources/ and packaging/icons/.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cstdio>

#include <jpeglib.h>

namespace {

bool WriteJpeg(const QImage& source, const QString& path) {
    const QImage img = source.convertToFormat(QImage::Format_RGB888);
    FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct info{};
    jpeg_error_mgr err{};
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, f);
    info.image_width = static_cast<JDIMENSION>(img.width());
    info.image_height = static_cast<JDIMENSION>(img.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar*>(img.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(f);
    return true;
}

QImage Banner(const QString& name, QColor from, QColor to) {
    QImage img(439, 100, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 439, 100);
    g.setColorAt(0, from);
    g.setColorAt(1, to);
    p.fillRect(img.rect(), g);
    // A stylised barcode on the left.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    int x = 22;
    const int widths[] = {3, 1, 2, 1, 4, 1, 1, 3, 2, 1, 1, 2, 3, 1, 2};
    for (int i = 0; i < 15; ++i) {
        if (i % 2 == 0)
            p.drawRect(x, 22, widths[i], 56);
        x += widths[i] + 1;
    }
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(80, 10, 350, 56), Qt::AlignLeft | Qt::AlignVCenter, name);
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(14);
    p.setFont(sub);
    p.drawText(QRect(82, 62, 350, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("Scannerdaten direkt in den Shop"));
    return img;
}

struct BrandArt {
    const char* program;
    const char* name;  // UTF-8, as the banner shows it
    QColor from;
    QColor to;
};

const BrandArt kBrandArt[3] = {
    {"VantorTrans", "VantorTrans", QColor(10, 60, 120), QColor(30, 140, 200)},
    {"MiraboTrans", "MiraboTrans", QColor(120, 20, 40), QColor(220, 90, 60)},
    {"DoerfalTrans", "DörfalTrans", QColor(20, 90, 40), QColor(120, 180, 60)},
};

// The banner's gradient and barcode on a rounded square, drawn for each size
// rather than scaled, so the small sizes keep whole bars.
QImage AppIcon(const BrandArt& art, int size) {
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal margin = size >= 32 ? size / 16.0 : 0.5;
    const QRectF box(margin, margin, size - 2 * margin, size - 2 * margin);
    QLinearGradient g(box.topLeft(), box.bottomRight());
    g.setColorAt(0, art.from);
    g.setColorAt(1, art.to);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(box, box.width() * 0.18, box.height() * 0.18);
    // Bars in whole pixels: widths 2,1,1,2,1 (x unit) with gaps of one unit.
    const int widths[] = {2, 1, 1, 2, 1, 1, 2};
    const int bars = size >= 32 ? 7 : 5;
    int units = 0;
    for (int i = 0; i < bars; ++i)
        units += widths[i] + (i + 1 < bars ? 1 : 0);
    const int unit = std::max(1, int(box.width() * 0.62) / units);
    int x = int(box.center().x()) - units * unit / 2;
    const int top = int(box.top() + box.height() * 0.22);
    const int height = int(box.height() * 0.56);
    p.setBrush(QColor(255, 255, 255, 235));
    for (int i = 0; i < bars; ++i) {
        p.drawRect(QRect(x, top, widths[i] * unit, height));
        x += (widths[i] + 1) * unit;
    }
    return img;
}

QImage ScannerIcon(QColor display) {
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath body;
    body.addRoundedRect(QRectF(4.5, 0.5, 7, 15), 2, 2);
    p.setPen(QColor(40, 40, 40));
    p.setBrush(QColor(90, 90, 96));
    p.drawPath(body);
    p.setPen(Qt::NoPen);
    p.setBrush(display);
    p.drawRect(QRectF(5.5, 2, 5, 4));
    p.setBrush(QColor(200, 200, 200));
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 2; ++c)
            p.drawRect(QRectF(6 + c * 2.5, 8 + r * 2.2, 1.5, 1.4));
    }
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    const QString icons =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("packaging/icons");
    QDir().mkpath(out);
    const char* logos[3] = {"/logo_vantor.jpg", "/logo_mirabo.jpg", "/logo_doerfal.jpg"};
    bool ok = true;
    for (int b = 0; b < 3; ++b) {
        const BrandArt& art = kBrandArt[b];
        ok = WriteJpeg(Banner(QString::fromUtf8(art.name), art.from, art.to), out + logos[b]) && ok;
        // The hicolor theme's sizes.
        for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString dir = icons + QStringLiteral("/%1x%1").arg(size);
            QDir().mkpath(dir);
            ok = AppIcon(art, size).save(dir + QLatin1Char('/') + QLatin1String(art.program) +
                                         QStringLiteral(".png")) &&
                 ok;
        }
    }
    const QColor displays[5] = {QColor(0, 220, 230), QColor(0, 200, 0), QColor(240, 200, 0),
                                QColor(160, 160, 160), QColor(230, 20, 20)};
    for (int i = 0; i < 5; ++i) {
        ok = ScannerIcon(displays[i]).save(out + QStringLiteral("/scanner%1.png").arg(i)) && ok;
    }
    ok = ScannerIcon(displays[0])
             .scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation)
             .save(out + QStringLiteral("/window_icon.png")) &&
         ok;
    std::printf("%s\n", ok ? "written" : "failed");
    return ok ? 0 : 1;
}
