// Draws every image the programs carry. Run at build time:
//   quillmar_imagegen <output dir> <name>...   writes <output dir>/<name>.png for each name.
// The look follows the programs' dark grey style sheets: light grey text on dark gradients,
// a blue accent, red for recording and alarms, green for a live link.
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QMap>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <cmath>
#include <functional>

namespace {

const QColor kAccent(30, 136, 189);
const QColor kAccentLight(88, 182, 230);
const QColor kInk(47, 47, 47);
const QColor kLight(222, 222, 222);
const QColor kGrey(160, 160, 160);
const QColor kDark(49, 49, 49);
const QColor kRed(214, 58, 58);
const QColor kGreen(61, 190, 90);

QFont font(int pixelSize, bool bold = true)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

void prepare(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

// The emblem of the brand: a ring broken by a rising wave, as a sensor trace crossing a dial.
void drawEmblem(QPainter& p, const QRectF& r, const QColor& ring, const QColor& wave)
{
    const qreal w = r.width();
    p.save();
    QPen ringPen(ring, w * 0.13, Qt::SolidLine, Qt::RoundCap);
    p.setPen(ringPen);
    p.setBrush(Qt::NoBrush);
    const QRectF circle = r.adjusted(w * 0.1, w * 0.1, -w * 0.1, -w * 0.1);
    p.drawArc(circle, 60 * 16, 290 * 16);
    QPainterPath path;
    const qreal x0 = r.left() + w * 0.22, x1 = r.right() - w * 0.02;
    const qreal yc = r.center().y() + w * 0.05;
    path.moveTo(x0, yc);
    path.cubicTo(x0 + (x1 - x0) * 0.25, yc - w * 0.32, x0 + (x1 - x0) * 0.45, yc + w * 0.32,
                 x0 + (x1 - x0) * 0.7, yc);
    path.lineTo(x1, r.top() + w * 0.12);
    p.setPen(QPen(wave, w * 0.11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.restore();
}

void drawText(QPainter& p, const QRectF& r, const QString& text, const QFont& f,
              const QColor& c, int flags = Qt::AlignCenter)
{
    p.save();
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, flags, text);
    p.restore();
}

// A name right of the emblem in ink, then a second word in the accent colour after a gap; the
// second word sits at the bottom when it is smaller.
void drawName(QPainter& p, const QImage& img, const QString& name, const QFont& nameFont,
              const QString& second, const QFont& secondFont, qreal gap)
{
    const qreal h = img.height();
    p.setFont(nameFont);
    const qreal x = h + 4;
    const qreal nameWidth = p.fontMetrics().horizontalAdvance(name);
    drawText(p, QRectF(x, 0, nameWidth + 2, h), name, nameFont, kInk,
             Qt::AlignLeft | Qt::AlignVCenter);
    const bool smaller = secondFont.pixelSize() < nameFont.pixelSize();
    drawText(p,
             QRectF(x + nameWidth + gap, 0, img.width() - x - nameWidth - gap, smaller ? h - 2 : h),
             second, secondFont, kAccent,
             Qt::AlignLeft | (smaller ? Qt::AlignBottom : Qt::AlignVCenter));
}

// Wordmark: emblem, "Quillmar" and a suffix, for the light grey title bars.
void drawWordmark(QImage& img, const QString& suffix)
{
    QPainter p(&img);
    prepare(p);
    const qreal h = img.height();
    drawEmblem(p, QRectF(1, 1, h - 2, h - 2), kInk, kAccent);
    drawName(p, img, QStringLiteral("Quillmar"), font(int(h * 0.62)), suffix, font(int(h * 0.4)),
             5);
}

// The recorder's top bar gives its logo 135 pixels: the product line goes under the name.
void quillmarLogoModbus(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal h = img.height();
    drawEmblem(p, QRectF(1, 1, h - 2, h - 2), kInk, kAccent);
    const qreal x = h + 4;
    const qreal w = img.width() - x;
    drawText(p, QRectF(x, -1, w, h * 0.62), QStringLiteral("Quillmar"), font(int(h * 0.55)), kInk,
             Qt::AlignLeft | Qt::AlignVCenter);
    drawText(p, QRectF(x + 1, h * 0.58, w, h * 0.42), QStringLiteral("Lite Modbus"),
             font(int(h * 0.36)), kAccent, Qt::AlignLeft | Qt::AlignVCenter);
}
void quillmarLogo(QImage& img) { drawWordmark(img, QStringLiteral("Lite")); }

// Maker's mark for the status bars (light grey background).
void quorbinalLogo(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal h = img.height();
    p.setPen(QPen(QColor(90, 90, 90), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(1.5, 2.5, h - 3, h - 5));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QRectF(h * 0.5 - 2.5, h * 0.5 - 2.5, 5, 5));
    drawText(p, QRectF(h + 2, 0, img.width() - h - 2, h), QStringLiteral("QUORBINAL"),
             font(int(h * 0.62)), QColor(90, 90, 90), Qt::AlignLeft | Qt::AlignVCenter);
}

void roundedTile(QPainter& p, const QRectF& r, qreal radius)
{
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(73, 73, 73));
    g.setColorAt(1, QColor(38, 38, 38));
    p.setPen(QPen(QColor(110, 110, 110), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, radius, radius);
}

// Window icon.
void windowIcon(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    roundedTile(p, QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18);
    drawEmblem(p, QRectF(s * 0.12, s * 0.12, s * 0.76, s * 0.76), kLight, kAccentLight);
}

// Splash screen; the loading message is written in dark grey on the light band at the bottom.
void loadingLite(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal w = img.width(), h = img.height();
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(49, 49, 49));
    g.setColorAt(1, QColor(73, 73, 73));
    p.fillRect(img.rect(), g);
    p.fillRect(QRectF(0, h - 46, w, 46), QColor(206, 206, 206));
    p.fillRect(QRectF(0, h - 49, w, 3), kAccent);
    drawEmblem(p, QRectF(40, 62, 110, 110), kLight, kAccentLight);
    drawText(p, QRectF(170, 70, w - 180, 60), QStringLiteral("Quillmar"), font(54), kLight,
             Qt::AlignLeft | Qt::AlignVCenter);
    drawText(p, QRectF(174, 130, w - 180, 36), QStringLiteral("Lite Modbus"), font(26),
             kAccentLight, Qt::AlignLeft | Qt::AlignVCenter);
    drawText(p, QRectF(174, 168, w - 180, 24), QStringLiteral("Wireless sensor recorder"),
             font(14, false), kGrey, Qt::AlignLeft | Qt::AlignVCenter);
}

// Title image of the dashboard, on the dark panel.
void dashboardText(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal h = img.height();
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(2, h * 0.2, 6, h * 0.6), 2, 2);
    drawText(p, QRectF(16, 0, img.width() - 16, h), QStringLiteral("DASHBOARD"), font(int(h * 0.62)),
             kLight, Qt::AlignLeft | Qt::AlignVCenter);
}

// Channel badges on the chart panel's dark tiles.
void channelBadge(QImage& img, const QString& text, const QColor& colour)
{
    QPainter p(&img);
    prepare(p);
    const QRectF r(1, 1, img.width() - 2, img.height() - 2);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    drawText(p, r, text, font(int(img.height() * 0.6)), Qt::white);
}

void deviceCh1(QImage& img) { channelBadge(img, QStringLiteral("CH 1"), QColor(208, 96, 32)); }
void deviceCh2(QImage& img) { channelBadge(img, QStringLiteral("CH 2"), kAccent); }

// Radio waves above a dot: the node's link state.
void linkSymbol(QImage& img, bool connected)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    const QColor c = connected ? kGreen : QColor(130, 130, 130);
    const QPointF centre(s / 2, s * 0.72);
    p.setBrush(c);
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, s * 0.1, s * 0.1);
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 2; ++i) {
        const qreal r = s * (0.2 + 0.17 * i);
        p.setPen(QPen(c, s * 0.09, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(centre.x() - r, centre.y() - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    }
    if (!connected) {
        p.setPen(QPen(kRed, s * 0.11, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(s * 0.62, s * 0.1), QPointF(s * 0.92, s * 0.4));
        p.drawLine(QPointF(s * 0.92, s * 0.1), QPointF(s * 0.62, s * 0.4));
    }
}

void deviceConnecting(QImage& img) { linkSymbol(img, true); }
void deviceDisconnected(QImage& img) { linkSymbol(img, false); }

// A sensor node: a housing with a display and an antenna.
void deviceImg(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    p.setPen(QPen(kLight, s * 0.04, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.72, s * 0.3), QPointF(s * 0.72, s * 0.06));
    p.setPen(Qt::NoPen);
    p.setBrush(kLight);
    p.drawEllipse(QPointF(s * 0.72, s * 0.06), s * 0.04, s * 0.04);
    QLinearGradient g(0, s * 0.3, 0, s * 0.95);
    g.setColorAt(0, QColor(200, 200, 200));
    g.setColorAt(1, QColor(140, 140, 140));
    p.setPen(QPen(QColor(90, 90, 90), 1.5));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(s * 0.14, s * 0.3, s * 0.72, s * 0.62), s * 0.08, s * 0.08);
    p.setBrush(QColor(30, 40, 48));
    p.setPen(Qt::NoPen);
    const QRectF screen(s * 0.22, s * 0.38, s * 0.56, s * 0.26);
    p.drawRoundedRect(screen, s * 0.03, s * 0.03);
    drawText(p, screen, QStringLiteral("21.5"), font(int(s * 0.17)), kAccentLight);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(s * 0.3, s * 0.8), s * 0.04, s * 0.04);
    p.setBrush(QColor(90, 90, 90));
    p.drawRoundedRect(QRectF(s * 0.45, s * 0.77, s * 0.32, s * 0.06), 2, 2);
}

// Icon of the project buttons: the emblem alone, light for the dark screens.
void quorbinalSymbol(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    drawEmblem(p, QRectF(1, 1, img.width() - 2, img.height() - 2), kLight, kAccentLight);
}

// Variant with an accent ring, for the project button above the device list.
void quorbinalSymbol2(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawEllipse(QRectF(0.5, 0.5, s - 1, s - 1));
    drawEmblem(p, QRectF(s * 0.16, s * 0.16, s * 0.68, s * 0.68), Qt::white, QColor(255, 214, 120));
}

void recordBase(QPainter& p, qreal s)
{
    QRadialGradient g(QPointF(s * 0.4, s * 0.35), s * 0.6);
    g.setColorAt(0, QColor(95, 95, 95));
    g.setColorAt(1, QColor(40, 40, 40));
    p.setPen(QPen(QColor(150, 150, 150), s * 0.04));
    p.setBrush(g);
    p.drawEllipse(QRectF(s * 0.05, s * 0.05, s * 0.9, s * 0.9));
}

void recordButton(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    recordBase(p, s);
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(QPointF(s / 2, s / 2), s * 0.2, s * 0.2);
}

void recordStopButton(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    recordBase(p, s);
    p.setPen(Qt::NoPen);
    p.setBrush(kLight);
    p.drawRoundedRect(QRectF(s * 0.33, s * 0.33, s * 0.34, s * 0.34), s * 0.04, s * 0.04);
}

// A gear.
void settingButton(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    const QPointF c(s / 2, s / 2);
    QPainterPath gear;
    const int teeth = 8;
    const qreal outer = s * 0.46, inner = s * 0.34;
    for (int i = 0; i < teeth * 4; ++i) {
        const qreal a = (i / qreal(teeth * 4)) * 2 * M_PI;
        const qreal r = ((i % 4) == 1 || (i % 4) == 2) ? outer : inner;
        const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
        if (i == 0)
            gear.moveTo(pt);
        else
            gear.lineTo(pt);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(c, s * 0.14, s * 0.14);
    p.setPen(Qt::NoPen);
    p.setBrush(kLight);
    p.drawPath(gear.subtracted(hole));
}

// Status bar pixmaps (light grey bar): a lamp and a word.
void statePixmap(QImage& img, const QColor& lamp, const QString& word)
{
    QPainter p(&img);
    prepare(p);
    const qreal h = img.height();
    QRadialGradient g(QPointF(h * 0.4, h * 0.4), h * 0.5);
    g.setColorAt(0, lamp.lighter(150));
    g.setColorAt(1, lamp);
    p.setPen(QPen(lamp.darker(140), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(1.5, 1.5, h - 3, h - 3));
    drawText(p, QRectF(h + 3, 0, img.width() - h - 3, h), word, font(int(h * 0.66)),
             QColor(70, 70, 70), Qt::AlignLeft | Qt::AlignVCenter);
}

void stateReady(QImage& img) { statePixmap(img, kGreen, QStringLiteral("READY")); }
void stateRecording(QImage& img) { statePixmap(img, kRed, QStringLiteral("RECORDING")); }

// A folder with a plus: confirm and create the project.
void btnCreateProject(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    QPainterPath folder;
    folder.moveTo(s * 0.08, s * 0.24);
    folder.lineTo(s * 0.38, s * 0.24);
    folder.lineTo(s * 0.46, s * 0.32);
    folder.lineTo(s * 0.88, s * 0.32);
    folder.lineTo(s * 0.88, s * 0.82);
    folder.lineTo(s * 0.08, s * 0.82);
    folder.closeSubpath();
    p.setPen(QPen(QColor(120, 120, 120), 1));
    p.setBrush(QColor(214, 178, 92));
    p.drawPath(folder);
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QPointF(s * 0.72, s * 0.72), s * 0.22, s * 0.22);
    p.setPen(QPen(Qt::white, s * 0.08, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.72, s * 0.61), QPointF(s * 0.72, s * 0.83));
    p.drawLine(QPointF(s * 0.61, s * 0.72), QPointF(s * 0.83, s * 0.72));
}

// A clock: change the sampling interval.
void btnInterval(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    const QPointF c(s / 2, s / 2);
    p.setPen(QPen(kLight, s * 0.07));
    p.setBrush(QColor(60, 60, 60));
    p.drawEllipse(c, s * 0.4, s * 0.4);
    p.setPen(QPen(kLight, s * 0.035));
    for (int i = 0; i < 12; ++i) {
        const qreal a = i * M_PI / 6;
        p.drawLine(QPointF(c.x() + s * 0.3 * std::cos(a), c.y() + s * 0.3 * std::sin(a)),
                   QPointF(c.x() + s * 0.34 * std::cos(a), c.y() + s * 0.34 * std::sin(a)));
    }
    p.setPen(QPen(kAccentLight, s * 0.07, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, QPointF(c.x(), c.y() - s * 0.26));
    p.drawLine(c, QPointF(c.x() + s * 0.18, c.y() + s * 0.08));
}

// Three linked stations: a network connection.
void iconLan(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    p.setPen(QPen(kLight, s * 0.07));
    p.drawLine(QPointF(s * 0.5, s * 0.34), QPointF(s * 0.5, s * 0.52));
    p.drawLine(QPointF(s * 0.2, s * 0.52), QPointF(s * 0.8, s * 0.52));
    p.drawLine(QPointF(s * 0.2, s * 0.52), QPointF(s * 0.2, s * 0.66));
    p.drawLine(QPointF(s * 0.8, s * 0.52), QPointF(s * 0.8, s * 0.66));
    p.setPen(Qt::NoPen);
    p.setBrush(kAccentLight);
    p.drawRoundedRect(QRectF(s * 0.32, s * 0.06, s * 0.36, s * 0.3), 2, 2);
    p.setBrush(kLight);
    p.drawRoundedRect(QRectF(s * 0.04, s * 0.64, s * 0.32, s * 0.28), 2, 2);
    p.drawRoundedRect(QRectF(s * 0.64, s * 0.64, s * 0.32, s * 0.28), 2, 2);
}

// Tick boxes of the report's channel list (dark list background).
void checkBox(QImage& img, bool ticked)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    const QRectF box(s * 0.1, s * 0.1, s * 0.8, s * 0.8);
    if (ticked) {
        p.setPen(Qt::NoPen);
        p.setBrush(kAccent);
        p.drawRoundedRect(box, s * 0.15, s * 0.15);
        p.setPen(QPen(Qt::white, s * 0.13, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        QPainterPath tick;
        tick.moveTo(s * 0.28, s * 0.52);
        tick.lineTo(s * 0.44, s * 0.68);
        tick.lineTo(s * 0.73, s * 0.33);
        p.drawPath(tick);
    } else {
        p.setPen(QPen(kGrey, s * 0.08));
        p.setBrush(QColor(40, 40, 40));
        p.drawRoundedRect(box.adjusted(s * 0.04, s * 0.04, -s * 0.04, -s * 0.04), s * 0.12,
                          s * 0.12);
    }
}

void check(QImage& img) { checkBox(img, true); }
void nocheck(QImage& img) { checkBox(img, false); }

// Title bar buttons of the report window (light grey bar).
void btnMinimize(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    p.setPen(QPen(kInk, s * 0.12, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.25, s * 0.7), QPointF(s * 0.75, s * 0.7));
}

void btnClose(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    p.setPen(QPen(kInk, s * 0.12, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.27, s * 0.27), QPointF(s * 0.73, s * 0.73));
    p.drawLine(QPointF(s * 0.73, s * 0.27), QPointF(s * 0.27, s * 0.73));
}

// The data viewer's emblem: a trace over a small grid, with a lens over its highest point.
void drawTrendEmblem(QPainter& p, const QRectF& r, const QColor& frame, const QColor& trace)
{
    const qreal w = r.width();
    p.save();
    p.setPen(QPen(frame, w * 0.07, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(r.left() + w * 0.1, r.top() + w * 0.1),
               QPointF(r.left() + w * 0.1, r.bottom() - w * 0.1));
    p.drawLine(QPointF(r.left() + w * 0.1, r.bottom() - w * 0.1),
               QPointF(r.right() - w * 0.05, r.bottom() - w * 0.1));
    QPainterPath path;
    path.moveTo(r.left() + w * 0.18, r.bottom() - w * 0.3);
    path.lineTo(r.left() + w * 0.36, r.top() + w * 0.55);
    path.lineTo(r.left() + w * 0.52, r.bottom() - w * 0.38);
    path.lineTo(r.left() + w * 0.7, r.top() + w * 0.3);
    path.lineTo(r.right() - w * 0.08, r.top() + w * 0.45);
    p.setPen(QPen(trace, w * 0.09, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.setPen(QPen(frame, w * 0.06));
    p.drawEllipse(QPointF(r.left() + w * 0.7, r.top() + w * 0.3), w * 0.14, w * 0.14);
    p.restore();
}

// The data viewer's wordmark for its light grey top bar.
void trendscopeLogo(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal h = img.height();
    drawTrendEmblem(p, QRectF(1, 1, h - 2, h - 2), kInk, kAccent);
    const QFont big = font(int(h * 0.58));
    drawName(p, img, QStringLiteral("Trend"), big, QStringLiteral("scope"), big, 0);
}

void trendscopeIcon(QImage& img)
{
    QPainter p(&img);
    prepare(p);
    const qreal s = img.width();
    roundedTile(p, QRectF(0.5, 0.5, s - 1, s - 1), s * 0.18);
    drawTrendEmblem(p, QRectF(s * 0.14, s * 0.14, s * 0.72, s * 0.72), kLight, kAccentLight);
}

struct ImageRecipe
{
    QSize size;
    std::function<void(QImage&)> paint;
};

QMap<QString, ImageRecipe> catalogue()
{
    return {
        {QStringLiteral("QuillmarLogoModbus"), {QSize(135, 28), quillmarLogoModbus}},
        {QStringLiteral("QuillmarLogo"), {QSize(160, 28), quillmarLogo}},
        {QStringLiteral("QuorbinalLogo"), {QSize(96, 16), quorbinalLogo}},
        {QStringLiteral("I_2"), {QSize(64, 64), windowIcon}},
        {QStringLiteral("LoadingLite"), {QSize(520, 300), loadingLite}},
        {QStringLiteral("DashboardText"), {QSize(200, 30), dashboardText}},
        {QStringLiteral("DeviceCh1"), {QSize(60, 22), deviceCh1}},
        {QStringLiteral("DeviceCh2"), {QSize(60, 22), deviceCh2}},
        {QStringLiteral("DeviceConnectingSymbol"), {QSize(24, 24), deviceConnecting}},
        {QStringLiteral("DeviceDisconnectedSymbol"), {QSize(24, 24), deviceDisconnected}},
        {QStringLiteral("DeviceImg"), {QSize(64, 64), deviceImg}},
        {QStringLiteral("QuorbinalSymbol"), {QSize(32, 32), quorbinalSymbol}},
        {QStringLiteral("QuorbinalSymbol2"), {QSize(32, 32), quorbinalSymbol2}},
        {QStringLiteral("RecordButton"), {QSize(48, 48), recordButton}},
        {QStringLiteral("RecordStopButton"), {QSize(48, 48), recordStopButton}},
        {QStringLiteral("SettingButton"), {QSize(24, 24), settingButton}},
        {QStringLiteral("StateReady"), {QSize(96, 16), stateReady}},
        {QStringLiteral("StateRecording"), {QSize(96, 16), stateRecording}},
        {QStringLiteral("btn_createProject"), {QSize(32, 32), btnCreateProject}},
        {QStringLiteral("btn_interval"), {QSize(32, 32), btnInterval}},
        {QStringLiteral("icon_lan"), {QSize(24, 24), iconLan}},
        {QStringLiteral("check"), {QSize(18, 18), check}},
        {QStringLiteral("nocheck"), {QSize(18, 18), nocheck}},
        {QStringLiteral("btn_minimize"), {QSize(20, 20), btnMinimize}},
        {QStringLiteral("btn_close"), {QSize(20, 20), btnClose}},
        {QStringLiteral("TrendscopeLogo"), {QSize(160, 28), trendscopeLogo}},
        {QStringLiteral("TrendscopeIcon"), {QSize(64, 64), trendscopeIcon}},
    };
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        err << "usage: quillmar_imagegen <output dir> <name>...\n";
        return 2;
    }
    const QDir out(args.at(1));
    if (!QDir().mkpath(out.path())) {
        err << "cannot create " << out.path() << '\n';
        return 1;
    }
    const QMap<QString, ImageRecipe> images = catalogue();
    for (int i = 2; i < args.size(); ++i) {
        const QString& name = args.at(i);
        const auto it = images.constFind(name);
        if (it == images.constEnd()) {
            err << "no drawing for image " << name << '\n';
            return 1;
        }
        QImage img(it->size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        it->paint(img);
        const QString file = out.filePath(name + QStringLiteral(".png"));
        if (!img.save(file, "PNG")) {
            err << "cannot write " << file << '\n';
            return 1;
        }
    }
    return 0;
}
