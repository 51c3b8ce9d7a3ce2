#include "figure/figure_export.h"

#include "data/errors.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace dravo2 {
namespace {

constexpr double kPointsPerInch = 72.0;
constexpr double kMmPerInch = 25.4;

// Lengths of the drawing in points.
constexpr double kTickLength = 3.5;
constexpr double kFrameWidth = 0.8;
constexpr double kLineWidth = 1.0;
constexpr double kMarkerRadius = 1.3;
constexpr double kLegendSample = 14;

QColor SeriesColour(SeriesKind kind) {
    switch (kind) {
    case SeriesKind::Measured:
        return QColor(60, 60, 60);
    case SeriesKind::Downward:
        return QColor(31, 91, 180);
    case SeriesKind::Upward:
        return QColor(200, 40, 40);
    case SeriesKind::Fitted:
        break;
    }
    return QColor(20, 140, 60);
}

// Lines differ in dash as well as colour, so that a grey-scale print still tells them apart.
QPen SeriesPen(SeriesKind kind, double unit) {
    QPen pen(SeriesColour(kind), kLineWidth * unit);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::RoundJoin);
    if (kind == SeriesKind::Upward) {
        pen.setDashPattern({4.0, 2.0});
    } else if (kind == SeriesKind::Fitted) {
        pen.setWidthF(1.3 * unit);
        pen.setDashPattern({1.0, 1.5});
    } else if (kind == SeriesKind::Measured) {
        pen.setWidthF(0.6 * unit);
    }
    return pen;
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// A tick label with a typographic minus sign.
QString TickText(double value, double step) {
    QString text = Text(TickLabel(value, step));
    text.replace(QLatin1Char('-'), QChar(0x2212));
    return text;
}

QFont FigureFont(double points) {
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Helvetica")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    return font;
}

// An axis title in which "_" sets the following letters and digits as a subscript ("M_x",
// "theta_1"), centred in `box`.
void DrawTitle(QPainter& painter, const QRectF& box, const std::string& title) {
    struct Piece {
        QString Text;
        bool Subscript;
    };
    std::vector<Piece> pieces;
    const QString text = Text(title);
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('_') && i + 1 < text.size() && text[i + 1].isLetterOrNumber()) {
            pieces.push_back({plain, false});
            plain.clear();
            QString sub;
            while (i + 1 < text.size() && text[i + 1].isLetterOrNumber()) {
                sub += text[++i];
            }
            pieces.push_back({sub, true});
        } else {
            plain += text[i];
        }
    }
    pieces.push_back({plain, false});

    const QFont font = painter.font();
    QFont small = font;
    small.setPointSizeF(font.pointSizeF() * 0.72);
    const QFontMetricsF metrics(font, painter.device());
    const QFontMetricsF smallMetrics(small, painter.device());
    double width = 0;
    for (const Piece& piece : pieces) {
        width += (piece.Subscript ? smallMetrics : metrics).horizontalAdvance(piece.Text);
    }
    double x = box.center().x() - width / 2;
    const double baseline = box.center().y() + (metrics.ascent() - metrics.descent()) / 2;
    for (const Piece& piece : pieces) {
        painter.setFont(piece.Subscript ? small : font);
        const double lowered = piece.Subscript ? 0.3 * metrics.ascent() : 0;
        painter.drawText(QPointF(x, baseline + lowered), piece.Text);
        x += (piece.Subscript ? smallMetrics : metrics).horizontalAdvance(piece.Text);
    }
    painter.setFont(font);
}

// Maps world coordinates of the axes onto the frame rectangle.
struct AxisMap {
    QRectF Frame;
    AxisTicks X;
    AxisTicks Y;
    double ToX(double x) const { return Frame.left() + (x - X.Low) / (X.High - X.Low) * Frame.width(); }
    double ToY(double y) const { return Frame.bottom() - (y - Y.Low) / (Y.High - Y.Low) * Frame.height(); }
    QPointF To(const FigurePoint& p) const { return {ToX(p.X), ToY(p.Y)}; }
};

void DrawMarker(QPainter& painter, const QPointF& at, double radius) {
    painter.drawEllipse(at, radius, radius);
}

void DrawSeries(QPainter& painter, const AxisMap& map, const FigureSeries& series, double unit) {
    painter.setPen(SeriesPen(series.Kind, unit));
    if (series.Kind == SeriesKind::Measured) {
        painter.setBrush(Qt::NoBrush);
        for (const FigurePoint& p : series.Points) {
            DrawMarker(painter, map.To(p), kMarkerRadius * unit);
        }
        return;
    }
    QPolygonF line;
    line.reserve(static_cast<qsizetype>(series.Points.size()));
    for (const FigurePoint& p : series.Points) {
        line << map.To(p);
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(line);
}

void DrawLegendSample(QPainter& painter, SeriesKind kind, const QPointF& left, double unit) {
    painter.setPen(SeriesPen(kind, unit));
    painter.setBrush(Qt::NoBrush);
    const double length = kLegendSample * unit;
    if (kind == SeriesKind::Measured) {
        for (double f : {0.2, 0.5, 0.8}) {
            DrawMarker(painter, left + QPointF(f * length, 0), kMarkerRadius * unit);
        }
    } else {
        painter.drawLine(left, left + QPointF(length, 0));
    }
}

// The legend goes into the corner of the frame that hides the fewest points.
void DrawLegend(QPainter& painter, const AxisMap& map, const FigureDescription& figure, const QFontMetricsF& metrics,
                double unit) {
    const std::vector<SeriesKind> kinds = LegendKinds(figure);
    if (kinds.empty()) {
        return;
    }
    const double pad = 3 * unit;
    const double lineHeight = metrics.height();
    double textWidth = 0;
    for (SeriesKind kind : kinds) {
        textWidth = std::max(textWidth, metrics.horizontalAdvance(Text(SeriesLegend(figure, kind))));
    }
    const QSizeF size(pad + kLegendSample * unit + pad + textWidth + pad,
                      pad + lineHeight * static_cast<double>(kinds.size()) + pad * 0.5);
    const double inset = 2 * unit;
    const QRectF& f = map.Frame;
    const std::array<QRectF, 4> corners{
        QRectF(QPointF(f.left() + inset, f.top() + inset), size),
        QRectF(QPointF(f.right() - inset - size.width(), f.top() + inset), size),
        QRectF(QPointF(f.left() + inset, f.bottom() - inset - size.height()), size),
        QRectF(QPointF(f.right() - inset - size.width(), f.bottom() - inset - size.height()), size)};
    std::size_t best = 0;
    double fewest = std::numeric_limits<double>::infinity();
    for (std::size_t c = 0; c < corners.size(); ++c) {
        // The ink the box would hide: the length of line inside it (each segment sampled at eight
        // points) and a marker's width for each marker.
        const QRectF cover = corners[c].adjusted(-pad, -pad, pad, pad);
        double hidden = 0;
        for (const FigureSeries& series : figure.Series) {
            for (std::size_t i = 0; i < series.Points.size(); ++i) {
                const QPointF end = map.To(series.Points[i]);
                if (series.Kind == SeriesKind::Measured) {
                    hidden += cover.contains(end) ? 2 * kMarkerRadius * unit : 0;
                    continue;
                }
                if (i == 0) {
                    continue;
                }
                const QPointF start = map.To(series.Points[i - 1]);
                int inside = 0;
                for (int k = 0; k < 8; ++k) {
                    inside += cover.contains(start + (end - start) * ((k + 0.5) / 8)) ? 1 : 0;
                }
                hidden += QLineF(start, end).length() * inside / 8;
            }
        }
        if (hidden < fewest) {
            fewest = hidden;
            best = c;
        }
    }
    const QRectF box = corners[best];
    painter.setPen(QPen(QColor(120, 120, 120), 0.5 * unit));
    painter.setBrush(QColor(255, 255, 255, 230));
    painter.drawRect(box);
    double y = box.top() + pad * 0.5;
    for (SeriesKind kind : kinds) {
        const double middle = y + lineHeight / 2;
        DrawLegendSample(painter, kind, QPointF(box.left() + pad, middle), unit);
        painter.setPen(Qt::black);
        painter.drawText(QRectF(box.left() + pad + kLegendSample * unit + pad, y, textWidth + pad, lineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, Text(SeriesLegend(figure, kind)));
        y += lineHeight;
    }
}

// A painter that could not begin on its device (an image, SVG or PDF writer) draws nothing.
void RequireActive(const QPainter& painter) {
    if (!painter.isActive()) {
        throw ProgramError("The figure could not be drawn");
    }
}

} // namespace

std::optional<FigureFormat> FigureFormatForPath(const std::string& path) {
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return std::nullopt;
    }
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "png") {
        return FigureFormat::Png;
    }
    if (extension == "svg") {
        return FigureFormat::Svg;
    }
    if (extension == "pdf") {
        return FigureFormat::Pdf;
    }
    return std::nullopt;
}

void PaintFigure(QPainter& painter, const FigureDescription& figure, const QRectF& area, double pointsToDevice) {
    const double unit = pointsToDevice;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.fillRect(area, Qt::white);

    const QFont font = FigureFont(figure.FontPt);
    painter.setFont(font);
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double textHeight = metrics.height();
    const double gap = 0.35 * textHeight;
    const double outer = 0.3 * textHeight;

    const AxisTicks& xt = figure.XTicks;
    const AxisTicks& yt = figure.YTicks;
    const AxisTicks& rt = figure.ResidualTicks;
    double yLabelWidth = 0;
    for (double v : yt.Values) {
        yLabelWidth = std::max(yLabelWidth, metrics.horizontalAdvance(TickText(v, yt.Step)));
    }
    if (figure.ResidualPanel) {
        for (double v : rt.Values) {
            yLabelWidth = std::max(yLabelWidth, metrics.horizontalAdvance(TickText(v, rt.Step)));
        }
    }
    double lastXLabel = 0;
    if (!xt.Values.empty()) {
        lastXLabel = metrics.horizontalAdvance(TickText(xt.Values.back(), xt.Step));
    }

    const double left = area.left() + outer + textHeight + gap + yLabelWidth + gap;
    const double right = area.right() - std::max(outer, lastXLabel / 2 + outer);
    const double top = area.top() + std::max(outer, textHeight / 2 + outer / 2);
    const double bottom = area.bottom() - (outer + textHeight + gap + textHeight + gap);
    // With residuals, the plot keeps the upper part and the residual panel the lower 30 % below a
    // gap that keeps their tick labels apart; both share the field axis labelled at the bottom.
    const double panelGap = figure.ResidualPanel ? textHeight : 0;
    const double panelHeight = figure.ResidualPanel ? 0.3 * (bottom - top - panelGap) : 0;
    const double plotBottom = bottom - panelHeight - panelGap;
    AxisMap map{QRectF(QPointF(left, top), QPointF(right, plotBottom)), xt, yt};
    AxisMap residualMap{QRectF(QPointF(left, bottom - panelHeight), QPointF(right, bottom)), xt, rt};
    if (map.Frame.width() <= 0 || map.Frame.height() <= 0 || xt.High <= xt.Low || yt.High <= yt.Low ||
        (figure.ResidualPanel && (residualMap.Frame.height() <= 0 || rt.High <= rt.Low))) {
        painter.restore();
        return; // too small to hold axes
    }

    // Zero lines, faint, where they fall inside the frame.
    const auto zeroLines = [&](const AxisMap& frameMap) {
        const QRectF& f = frameMap.Frame;
        painter.setPen(QPen(QColor(190, 190, 190), 0.4 * unit));
        if (frameMap.X.Low < 0 && frameMap.X.High > 0) {
            painter.drawLine(QPointF(frameMap.ToX(0), f.top()), QPointF(frameMap.ToX(0), f.bottom()));
        }
        if (frameMap.Y.Low < 0 && frameMap.Y.High > 0) {
            painter.drawLine(QPointF(f.left(), frameMap.ToY(0)), QPointF(f.right(), frameMap.ToY(0)));
        }
    };
    zeroLines(map);

    painter.save();
    painter.setClipRect(map.Frame);
    // The lines first, then the measured markers on top, so that no measured point is hidden.
    for (const bool measured : {false, true}) {
        for (const FigureSeries& series : figure.Series) {
            if ((series.Kind == SeriesKind::Measured) == measured) {
                DrawSeries(painter, map, series, unit);
            }
        }
    }
    painter.restore();

    // Frames, ticks inward on all four sides, labels on the left, and on the bottom of the lowest
    // frame only.
    const QPen framePen(Qt::black, kFrameWidth * unit, Qt::SolidLine, Qt::SquareCap);
    const double tick = kTickLength * unit;
    const auto frame = [&](const AxisMap& frameMap, bool fieldLabels) {
        const QRectF& f = frameMap.Frame;
        painter.setPen(framePen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(f);
        for (double v : frameMap.X.Values) {
            const double x = frameMap.ToX(v);
            painter.setPen(framePen);
            painter.drawLine(QPointF(x, f.bottom()), QPointF(x, f.bottom() - tick));
            painter.drawLine(QPointF(x, f.top()), QPointF(x, f.top() + tick));
            if (fieldLabels) {
                painter.setPen(Qt::black);
                painter.drawText(QRectF(x - 50 * textHeight, f.bottom() + gap, 100 * textHeight, textHeight),
                                 Qt::AlignCenter, TickText(v, frameMap.X.Step));
            }
        }
        for (double v : frameMap.Y.Values) {
            const double y = frameMap.ToY(v);
            painter.setPen(framePen);
            painter.drawLine(QPointF(f.left(), y), QPointF(f.left() + tick, y));
            painter.drawLine(QPointF(f.right(), y), QPointF(f.right() - tick, y));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(f.left() - gap - yLabelWidth - textHeight, y - textHeight / 2,
                                    yLabelWidth + textHeight, textHeight),
                             Qt::AlignRight | Qt::AlignVCenter, TickText(v, frameMap.Y.Step));
        }
    };
    const auto verticalTitle = [&](const AxisMap& frameMap, const std::string& title) {
        const QRectF& f = frameMap.Frame;
        painter.save();
        painter.translate(area.left() + outer, f.center().y());
        painter.rotate(-90);
        DrawTitle(painter, QRectF(-f.height() / 2, 0, f.height(), textHeight), title);
        painter.restore();
    };
    frame(map, !figure.ResidualPanel);

    if (figure.ResidualPanel) {
        zeroLines(residualMap);
        painter.save();
        painter.setClipRect(residualMap.Frame);
        FigureSeries residuals{SeriesKind::Measured, figure.Residuals};
        DrawSeries(painter, residualMap, residuals, unit);
        painter.restore();
        frame(residualMap, true);
    }

    painter.setPen(Qt::black);
    DrawTitle(painter, QRectF(left, bottom + gap + textHeight + gap, right - left, textHeight), figure.XTitle);
    verticalTitle(map, figure.YTitle);
    if (figure.ResidualPanel) {
        verticalTitle(residualMap, figure.ResidualTitle);
    }

    DrawLegend(painter, map, figure, metrics, unit);
    painter.restore();
}

namespace {

// The pixels along a length of `cm` at `dpi`, at least one.
long long PixelsAlong(double cm, int dpi) {
    return std::max(1LL, std::llround(cm * 10 / kMmPerInch * dpi));
}

} // namespace

void CheckFigurePixels(double widthCm, double heightCm, int dpi) {
    const long long width = PixelsAlong(widthCm, dpi);
    const long long height = PixelsAlong(heightCm, dpi);
    if (width > kMostFigurePixels / height) {
        throw ProgramError("A PNG figure of " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels is larger than the " + std::to_string(kMostFigurePixels / 1'000'000) +
                           " megapixels a figure may have: lower the resolution or the size");
    }
}

QImage RenderFigureImage(const FigureDescription& figure, int dpi) {
    CheckFigurePixels(figure.WidthCm, figure.HeightCm, dpi);
    const int width = static_cast<int>(PixelsAlong(figure.WidthCm, dpi));
    const int height = static_cast<int>(PixelsAlong(figure.HeightCm, dpi));
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        throw ProgramError("Not enough memory for a figure of " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels");
    }
    const int dotsPerMeter = static_cast<int>(std::lround(dpi / 0.0254));
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    QPainter painter(&image);
    RequireActive(painter);
    PaintFigure(painter, figure, QRectF(0, 0, width, height), dpi / kPointsPerInch);
    painter.end();
    return image;
}

std::string FigureFileBytes(const FigureDescription& figure, FigureFormat format, int dpi) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        throw ProgramError("A figure is drawn only while a graphical Qt application runs");
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const double widthPt = figure.WidthCm * 10 / kMmPerInch * kPointsPerInch;
    const double heightPt = figure.HeightCm * 10 / kMmPerInch * kPointsPerInch;
    switch (format) {
    case FigureFormat::Png:
        if (!RenderFigureImage(figure, dpi).save(&buffer, "PNG")) {
            throw ProgramError("The figure could not be encoded as PNG");
        }
        break;
    case FigureFormat::Svg: {
        // One SVG unit is one point; the size is written in millimetres.
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setResolution(static_cast<int>(kPointsPerInch));
        svg.setSize(QSize(static_cast<int>(std::ceil(widthPt)), static_cast<int>(std::ceil(heightPt))));
        svg.setViewBox(QRectF(0, 0, widthPt, heightPt));
        svg.setTitle(QStringLiteral("Dravo2 figure"));
        QPainter painter(&svg);
        RequireActive(painter);
        PaintFigure(painter, figure, QRectF(0, 0, widthPt, heightPt), 1.0);
        painter.end();
        break;
    }
    case FigureFormat::Pdf: {
        QPdfWriter pdf(&buffer);
        pdf.setCreator(QStringLiteral("Dravo2"));
        pdf.setTitle(QStringLiteral("Dravo2 figure"));
        pdf.setPageSize(QPageSize(QSizeF(figure.WidthCm * 10, figure.HeightCm * 10), QPageSize::Millimeter, QString(),
                                  QPageSize::ExactMatch));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        const int resolution = 1200;
        pdf.setResolution(resolution);
        QPainter painter(&pdf);
        RequireActive(painter);
        const QRectF area(0, 0, pdf.width(), pdf.height());
        PaintFigure(painter, figure, area, resolution / kPointsPerInch);
        painter.end();
        break;
    }
    }
    buffer.close();
    if (bytes.isEmpty()) {
        throw ProgramError("The figure could not be drawn");
    }
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

namespace {

QtMessageHandler PreviousHandler = nullptr;

// A command on the offscreen platform has no session runtime folder; Qt's note about it is noise
// on the command's error stream. Every other message goes on as before.
void QuietRuntimeFolderNote(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set"))) {
        return;
    }
    if (PreviousHandler != nullptr) {
        PreviousHandler(type, context, message);
    } else {
        std::fputs(qPrintable(qFormatLogMessage(type, context, message) + QLatin1Char('\n')), stderr);
    }
}

} // namespace

OffscreenGui::OffscreenGui() {
    if (QGuiApplication::instance() != nullptr) {
        return;
    }
    PreviousHandler = qInstallMessageHandler(QuietRuntimeFolderNote);
    static char program[] = "dravo2";
    static char option[] = "-platform";
    static char platform[] = "offscreen";
    Argc = 3;
    Argv[0] = program;
    Argv[1] = option;
    Argv[2] = platform;
    Argv[3] = nullptr;
    Owned = std::make_unique<QGuiApplication>(Argc, Argv);
}

OffscreenGui::~OffscreenGui() {
    if (Owned) {
        Owned.reset();
        qInstallMessageHandler(PreviousHandler);
    }
}

} // namespace dravo2
