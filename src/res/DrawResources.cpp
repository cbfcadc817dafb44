// Draws every picture of the program and writes them as PNG files named by resource id, each
// bitmap also at twice the size for high-density screens ("bitmap<id>@2x.png"). The PNGs are
// committed; run this only to redraw them: dartflux_draw_resources <folder>.

#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>

namespace {

using Drawing = std::function<void(QPainter&)>;

const QColor kKey(255, 0, 255);
const QColor kBarBlue(52, 154, 252);
const QColor kBarWhite(252, 254, 252);

// Toolbar icons lie on a light button face; edge pixels are blended with a face-like grey so
// that anti-aliasing does not leave a magenta fringe once the key colour is cut out.
const QColor kFaceForBlending(236, 236, 236);

const QColor kOrange(240, 140, 30);
const QColor kOrangeEdge(170, 85, 10);
const QColor kGreen(50, 170, 40);
const QColor kGreenEdge(25, 105, 20);
const QColor kRed(215, 40, 50);
const QColor kRedEdge(140, 20, 30);
const QColor kArrowBlue(52, 154, 252);
const QColor kArrowEdge(20, 80, 170);

QString outputFolder;
bool allWritten = true;

void Save(const QImage& image, const QString& name) {
    const QString path = QDir(outputFolder).filePath(name);
    if (!image.save(path, "PNG")) {
        QTextStream(stderr) << "cannot write " << path << "\n";
        allWritten = false;
    }
}

QImage DrawTransparent(QSize size, qreal designSize, const Drawing& draw) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size.width() / designSize, size.height() / designSize);
    draw(painter);
    return image;
}

// Flattens a drawing onto the key colour: clear pixels become magenta, all others opaque.
QImage OnKeyColour(const QImage& drawing) {
    QImage keyed(drawing.size(), QImage::Format_RGB32);
    const QImage straight = drawing.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < straight.height(); ++y) {
        for (int x = 0; x < straight.width(); ++x) {
            const QRgb pixel = straight.pixel(x, y);
            const int alpha = qAlpha(pixel);
            if (alpha < 24) {
                keyed.setPixel(x, y, kKey.rgb());
                continue;
            }
            const auto blend = [alpha](int over, int under) {
                return (over * alpha + under * (255 - alpha) + 127) / 255;
            };
            keyed.setPixel(x, y,
                           qRgb(blend(qRed(pixel), kFaceForBlending.red()),
                                blend(qGreen(pixel), kFaceForBlending.green()),
                                blend(qBlue(pixel), kFaceForBlending.blue())));
        }
    }
    return keyed;
}

QString BitmapName(int id, int scale) {
    return QString("bitmap%1%2.png").arg(id).arg(scale == 2 ? "@2x" : "");
}

// Progress bar pieces: 1-bit images, colour 0 blue, colour 1 near-white; one string per column.
// At twice the size every pixel becomes two by two.
void SaveBarPiece(int id, const QStringList& columns) {
    QImage piece(static_cast<int>(columns.size()), 7, QImage::Format_Mono);
    piece.setColorTable({kBarBlue.rgb(), kBarWhite.rgb()});
    piece.fill(1); // also clears the padding bits, so the file is the same on every run
    for (int x = 0; x < columns.size(); ++x) {
        for (int y = 0; y < 7; ++y) {
            piece.setPixel(x, y, columns[x][y] == 'B' ? 0 : 1);
        }
    }
    Save(piece, BitmapName(id, 1));
    Save(piece.scaled(piece.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation),
         BitmapName(id, 2));
}

void DrawDownArrowIntoTray(QPainter& painter) {
    QPainterPath tray;
    tray.moveTo(3, 19);
    tray.lineTo(3, 28);
    tray.lineTo(29, 28);
    tray.lineTo(29, 19);
    painter.setPen(QPen(QColor(70, 80, 95), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tray);

    const QPolygonF arrow{{12.5, 2.5}, {19.5, 2.5}, {19.5, 12}, {25, 12},
                          {16, 22.5},  {7, 12},     {12.5, 12}};
    painter.setPen(QPen(kArrowEdge, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QLinearGradient fill(0, 2, 0, 22);
    fill.setColorAt(0, kArrowBlue.lighter(130));
    fill.setColorAt(1, kArrowBlue);
    painter.setBrush(fill);
    painter.drawPolygon(arrow);
}

void DrawPage(QPainter& painter, const QRectF& page, bool withLines) {
    painter.setPen(QPen(QColor(110, 110, 110), 1));
    painter.setBrush(QColor(250, 250, 250));
    painter.drawRect(page);
    if (!withLines) {
        return;
    }
    painter.setPen(QPen(QColor(150, 150, 150), 1));
    for (qreal y = page.top() + 3.5; y < page.bottom() - 2; y += 3) {
        painter.drawLine(QPointF(page.left() + 2.5, y), QPointF(page.right() - 2.5, y));
    }
}

void DrawPlus(QPainter& painter, const QPointF& centre, qreal arm, qreal thickness,
              const QColor& fill, const QColor& edge) {
    const qreal half = thickness / 2;
    QPainterPath plus;
    plus.addRect(centre.x() - half, centre.y() - arm, thickness, 2 * arm);
    plus.addRect(centre.x() - arm, centre.y() - half, 2 * arm, thickness);
    plus.setFillRule(Qt::WindingFill);
    painter.setPen(QPen(edge, 1));
    painter.setBrush(fill);
    painter.drawPath(plus.simplified());
}

void DrawTriangle(QPainter& painter, const QRectF& box) {
    const QPolygonF triangle{box.topLeft(), QPointF(box.right(), box.center().y()),
                             box.bottomLeft()};
    painter.setPen(QPen(kGreenEdge, 1, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    painter.setBrush(kGreen);
    painter.drawPolygon(triangle);
}

void DrawBars(QPainter& painter, const QRectF& box) {
    const qreal barWidth = box.width() * 0.36;
    painter.setPen(QPen(kOrangeEdge, 1));
    painter.setBrush(kOrange);
    painter.drawRect(QRectF(box.left(), box.top(), barWidth, box.height()));
    painter.drawRect(QRectF(box.right() - barWidth, box.top(), barWidth, box.height()));
}

void DrawCross(QPainter& painter, const QRectF& box, qreal thickness) {
    painter.setBrush(Qt::NoBrush);
    for (const auto& [colour, width] : {std::pair{kRedEdge, thickness + 2}, {kRed, thickness}}) {
        painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(box.topLeft(), box.bottomRight());
        painter.drawLine(box.topRight(), box.bottomLeft());
    }
}

void DrawPageWithBadge(QPainter& painter, const Drawing& badge) {
    DrawPage(painter, QRectF(3.5, 1.5, 14, 19), true);
    badge(painter);
}

void SaveToolbarIcon(int id, const Drawing& draw) {
    for (const int scale : {1, 2}) {
        Save(OnKeyColour(DrawTransparent(QSize(24, 24) * scale, 24, draw)), BitmapName(id, scale));
    }
}

enum class ButtonLook { Normal, Focused, Pressed };

QImage DrawButtonPicture(const QString& caption, ButtonLook look, int scale) {
    QImage picture(89 * scale, 24 * scale, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);

    const QColor top = look == ButtonLook::Pressed ? QColor(196, 196, 196) : QColor(255, 255, 255);
    const QColor bottom =
        look == ButtonLook::Pressed ? QColor(255, 255, 255) : QColor(196, 196, 196);
    QLinearGradient face(0, 0, 0, 24);
    face.setColorAt(0, top);
    face.setColorAt(1, bottom);

    const QRectF outline(0.5, 0.5, 88, 23);
    painter.setPen(
        QPen(look == ButtonLook::Focused ? QColor(40, 40, 40) : QColor(140, 140, 140), 1));
    painter.setBrush(face);
    painter.drawRoundedRect(outline, 4, 4);
    if (look == ButtonLook::Focused) {
        painter.setPen(QPen(QColor(110, 110, 110), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(outline.adjusted(1, 1, -1, -1), 3, 3);
    }

    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStretch(QFont::SemiCondensed);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QRectF textArea =
        look == ButtonLook::Pressed ? QRectF(1, 1, 89, 24) : QRectF(0, 0, 89, 24);
    painter.drawText(textArea, Qt::AlignCenter, caption);
    return picture;
}

// Each caption gets three pictures with consecutive ids: focused, normal, pressed.
void SaveButtonPictures(int firstId, const QString& caption) {
    for (const int scale : {1, 2}) {
        for (const auto& [id, look] : {std::pair{firstId, ButtonLook::Focused},
                                       {firstId + 1, ButtonLook::Normal},
                                       {firstId + 2, ButtonLook::Pressed}}) {
            Save(DrawButtonPicture(caption, look, scale), BitmapName(id, scale));
        }
    }
}

void DrawAddUrlsIcon(QPainter& painter) {
    DrawPage(painter, QRectF(4.5, 2.5, 18, 24), true);
    painter.setPen(QPen(kArrowEdge, 1.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(7.5, 6.5), QPointF(16.5, 6.5));
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(22, 22), 8.5, 8.5);
    DrawPlus(painter, QPointF(22, 22), 7, 4.5, kGreen, kGreenEdge);
}

void SaveIcons() {
    for (const int size : {16, 48, 64, 256}) {
        Save(DrawTransparent(QSize(size, size), 32, DrawDownArrowIntoTray),
             QString("icon140-%1.png").arg(size));
    }
    Save(DrawTransparent(QSize(32, 32), 32, DrawDownArrowIntoTray), "icon140.png");
    Save(DrawTransparent(QSize(16, 16), 32, DrawAddUrlsIcon), "icon141-16.png");
    Save(DrawTransparent(QSize(32, 32), 32, DrawAddUrlsIcon), "icon141.png");
    Save(DrawTransparent(QSize(64, 64), 32, DrawAddUrlsIcon), "icon141-64.png");
}

void SaveProgressBarPieces() {
    SaveBarPiece(130, {"BBBBBBB", "BWWWWWB"});
    SaveBarPiece(131, {"BWWWWWB"});
    SaveBarPiece(132, {"BWBBBWB"});
    SaveBarPiece(133, {"BWWWWWB", "BBBBBBB"});
}

void SaveToolbarIcons() {
    SaveToolbarIcon(156, [](QPainter& p) { DrawPlus(p, {12, 12}, 9.5, 6, kOrange, kOrangeEdge); });
    SaveToolbarIcon(157, [](QPainter& p) { DrawTriangle(p, QRectF(6.5, 3.5, 13, 17)); });
    SaveToolbarIcon(158, [](QPainter& p) { DrawBars(p, QRectF(5.5, 3.5, 13, 17)); });
    SaveToolbarIcon(159, [](QPainter& p) { DrawCross(p, QRectF(6, 6, 12, 12), 3.5); });
    SaveToolbarIcon(160, [](QPainter& p) {
        DrawPageWithBadge(p, [](QPainter& b) { DrawTriangle(b, QRectF(12.5, 11.5, 10, 11)); });
    });
    SaveToolbarIcon(161, [](QPainter& p) {
        DrawPageWithBadge(p, [](QPainter& b) { DrawBars(b, QRectF(12.5, 11.5, 9, 11)); });
    });
    SaveToolbarIcon(162, [](QPainter& p) {
        DrawPageWithBadge(p, [](QPainter& b) { DrawCross(b, QRectF(14, 13, 7.5, 7.5), 2.5); });
    });
}

void SaveSeparator() {
    for (const int scale : {1, 2}) {
        QImage separator(2 * scale, 40 * scale, QImage::Format_RGB32);
        separator.fill(qRgb(255, 255, 255));
        for (int y = 0; y < separator.height(); ++y) {
            for (int x = 0; x < scale; ++x) {
                separator.setPixel(x, y, qRgb(160, 160, 160));
            }
        }
        Save(separator, BitmapName(166, scale));
    }
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: dartflux_draw_resources <output folder>\n";
        return 2;
    }
    outputFolder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputFolder);

    SaveIcons();
    SaveProgressBarPieces();
    SaveButtonPictures(142, "Cancel");
    SaveButtonPictures(145, "Ok");
    SaveButtonPictures(148, "Paste");
    SaveButtonPictures(151, "Browse...");
    SaveButtonPictures(163, "Open folder...");
    SaveToolbarIcons();
    SaveSeparator();
    return allWritten ? 0 : 1;
}
