#include "figure/figure_export.h"

#include "data/errors.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>

namespace dravo2 {
inline namespace figure {
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

// The sizes of a frame's ticks and labels, in device units: the point, the text's height, the gap
// between a frame and its labels and the width of the widest label on the left.
struct FrameStyle {
    double Unit = 1;
    double TextHeight = 0;
    double Gap = 0;
    double LabelWidth = 0;
};

// Zero lines, faint, where they fall inside the frame.
void DrawZeroLines(QPainter& painter, const AxisMap& map, double unit) {
    const QRectF& f = map.Frame;
    painter.setPen(QPen(QColor(190, 190, 190), 0.4 * unit));
    if (map.X.Low < 0 && map.X.High > 0) {
        painter.drawLine(QPointF(map.ToX(0), f.top()), QPointF(map.ToX(0), f.bottom()));
    }
    if (map.Y.Low < 0 && map.Y.High > 0) {
        painter.drawLine(QPointF(f.left(), map.ToY(0)), QPointF(f.right(), map.ToY(0)));
    }
}

// A frame with ticks inward on all four sides, labels on the left, and on the bottom when
// `xLabels` (the lowest frame only).
void DrawFrame(QPainter& painter, const AxisMap& map, const FrameStyle& style, bool xLabels) {
    const QPen framePen(Qt::black, kFrameWidth * style.Unit, Qt::SolidLine, Qt::SquareCap);
    const double tick = kTickLength * style.Unit;
    const double textHeight = style.TextHeight;
    const QRectF& f = map.Frame;
    painter.setPen(framePen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(f);
    for (double v : map.X.Values) {
        const double x = map.ToX(v);
        painter.setPen(framePen);
        painter.drawLine(QPointF(x, f.bottom()), QPointF(x, f.bottom() - tick));
        painter.drawLine(QPointF(x, f.top()), QPointF(x, f.top() + tick));
        if (xLabels) {
            painter.setPen(Qt::black);
            painter.drawText(QRectF(x - 50 * textHeight, f.bottom() + style.Gap, 100 * textHeight, textHeight),
                             Qt::AlignCenter, TickText(v, map.X.Step));
        }
    }
    for (double v : map.Y.Values) {
        const double y = map.ToY(v);
        painter.setPen(framePen);
        painter.drawLine(QPointF(f.left(), y), QPointF(f.left() + tick, y));
        painter.drawLine(QPointF(f.right(), y), QPointF(f.right() - tick, y));
        painter.setPen(Qt::black);
        painter.drawText(QRectF(f.left() - style.Gap - style.LabelWidth - textHeight, y - textHeight / 2,
                                style.LabelWidth + textHeight, textHeight),
                         Qt::AlignRight | Qt::AlignVCenter, TickText(v, map.Y.Step));
    }
}

// A title turned to read upwards, its top at x, centred on the frame's height.
void DrawVerticalTitle(QPainter& painter, double x, const QRectF& frame, double textHeight, const std::string& title) {
    painter.save();
    painter.translate(x, frame.center().y());
    painter.rotate(-90);
    DrawTitle(painter, QRectF(-frame.height() / 2, 0, frame.height(), textHeight), title);
    painter.restore();
}

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

    DrawZeroLines(painter, map, unit);

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

    const FrameStyle style{unit, textHeight, gap, yLabelWidth};
    DrawFrame(painter, map, style, !figure.ResidualPanel);

    if (figure.ResidualPanel) {
        DrawZeroLines(painter, residualMap, unit);
        painter.save();
        painter.setClipRect(residualMap.Frame);
        FigureSeries residuals{SeriesKind::Measured, figure.Residuals};
        DrawSeries(painter, residualMap, residuals, unit);
        painter.restore();
        DrawFrame(painter, residualMap, style, true);
    }

    painter.setPen(Qt::black);
    DrawTitle(painter, QRectF(left, bottom + gap + textHeight + gap, right - left, textHeight), figure.XTitle);
    DrawVerticalTitle(painter, area.left() + outer, map.Frame, textHeight, figure.YTitle);
    if (figure.ResidualPanel) {
        DrawVerticalTitle(painter, area.left() + outer, residualMap.Frame, textHeight, figure.ResidualTitle);
    }

    DrawLegend(painter, map, figure, metrics, unit);
    painter.restore();
}

namespace {

// A perceptually even blue-green-yellow scale, t from 0 to 1.
QColor ScaleColour(double t) {
    static const std::array<std::array<double, 3>, 5> stops{
        {{68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}}};
    t = std::clamp(t, 0.0, 1.0) * static_cast<double>(stops.size() - 1);
    const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(t), stops.size() - 2);
    const double f = t - static_cast<double>(i);
    auto mix = [&](std::size_t c) {
        return static_cast<int>(std::lround(stops[i][c] + (stops[i + 1][c] - stops[i][c]) * f));
    };
    return QColor(mix(0), mix(1), mix(2));
}

const QColor kNoValue(200, 200, 200);
const QColor kLineColour(33, 145, 140);

double WidestLabel(const QFontMetricsF& metrics, const AxisTicks& ticks) {
    double width = 0;
    for (double v : ticks.Values) {
        width = std::max(width, metrics.horizontalAdvance(TickText(v, ticks.Step)));
    }
    return width;
}

// The cells as one picture, a whole number of pixels a cell, so that every cell edge falls on a
// pixel edge and the picture, scaled onto the frame without smoothing, shows no seams in any
// viewer; a vector file holds one image rather than a rectangle per grid point.
QImage CellImage(const MapFigure& figure) {
    const std::size_t nx = figure.X.size();
    const std::size_t ny = figure.Y.size();
    const int scale = static_cast<int>(std::clamp<std::size_t>(1024 / std::max(nx, ny), 1, 64));
    QImage cells(static_cast<int>(nx) * scale, static_cast<int>(ny) * scale, QImage::Format_RGB32);
    const AxisTicks& colour = figure.ColourTicks;
    // The cells follow the values' order: a parameter that falls along its axis is drawn reversed.
    const bool xFalls = nx > 1 && figure.X.back() < figure.X.front();
    const bool yFalls = ny > 1 && figure.Y.back() < figure.Y.front();
    for (std::size_t ix = 0; ix < nx; ++ix) {
        for (std::size_t iy = 0; iy < ny; ++iy) {
            const auto& value = figure.Values[ix * ny + iy];
            const QColor shade = value && std::isfinite(*value)
                                     ? ScaleColour((*value - colour.Low) / (colour.High - colour.Low))
                                     : kNoValue;
            const std::size_t column = xFalls ? nx - 1 - ix : ix;
            const std::size_t row = yFalls ? iy : ny - 1 - iy;
            for (int dy = 0; dy < scale; ++dy) {
                auto* line = reinterpret_cast<QRgb*>(cells.scanLine(static_cast<int>(row) * scale + dy));
                std::fill_n(line + static_cast<std::ptrdiff_t>(column) * scale, scale, shade.rgb());
            }
        }
    }
    return cells;
}

// The line of a map over one parameter: markers at the values, joined where neighbours exist.
void DrawMapLine(QPainter& painter, const AxisMap& map, const MapFigure& figure, double unit) {
    QPainterPath path;
    bool drawing = false;
    std::vector<QPointF> markers;
    for (std::size_t i = 0; i < figure.X.size(); ++i) {
        const auto& value = figure.Values[i];
        if (!value || !std::isfinite(*value)) {
            drawing = false;
            continue;
        }
        const QPointF point(map.ToX(figure.X[i]), map.ToY(*value));
        drawing ? path.lineTo(point) : path.moveTo(point);
        drawing = true;
        markers.push_back(point);
    }
    painter.setPen(QPen(kLineColour, kLineWidth * unit));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.setBrush(kLineColour);
    for (const QPointF& point : markers) {
        DrawMarker(painter, point, 1.5 * kMarkerRadius * unit);
    }
    painter.setBrush(Qt::NoBrush);
}

} // namespace

void PaintMapFigure(QPainter& painter, const MapFigure& figure, const QRectF& area, double pointsToDevice) {
    const double unit = pointsToDevice;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.fillRect(area, Qt::white);
    painter.setFont(FigureFont(figure.FontPt));
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double textHeight = metrics.height();
    const double gap = 0.35 * textHeight;
    const double outer = 0.3 * textHeight;
    const bool heatMap = !figure.Y.empty();

    const double yLabelWidth = WidestLabel(metrics, figure.YTicks);
    const double lastXLabel =
        figure.XTicks.Values.empty()
            ? 0
            : metrics.horizontalAdvance(TickText(figure.XTicks.Values.back(), figure.XTicks.Step));
    // A heat map keeps room on the right for the colour bar, its labels and its title.
    const double barWidth = heatMap ? textHeight : 0;
    const double barBlock =
        heatMap ? 2 * gap + barWidth + gap + WidestLabel(metrics, figure.ColourTicks) + gap + textHeight : 0;
    const double titleLines = figure.Caption.empty() ? 1 : 2;
    const double left = area.left() + outer + textHeight + gap + yLabelWidth + gap;
    const double right = area.right() - outer - std::max(lastXLabel / 2, barBlock);
    const double top = area.top() + outer + titleLines * textHeight + gap;
    const double bottom = area.bottom() - (outer + textHeight + gap + textHeight + gap);
    const AxisMap map{QRectF(QPointF(left, top), QPointF(right, bottom)), figure.XTicks, figure.YTicks};
    const AxisTicks& colour = figure.ColourTicks;
    if (map.Frame.width() <= 0 || map.Frame.height() <= 0 || figure.XTicks.High <= figure.XTicks.Low ||
        figure.YTicks.High <= figure.YTicks.Low || (heatMap && colour.High <= colour.Low) ||
        figure.Values.size() != figure.X.size() * std::max<std::size_t>(figure.Y.size(), 1)) {
        painter.restore();
        return; // too small to hold axes, or not a map
    }

    if (heatMap) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(map.Frame, CellImage(figure));
        painter.restore();
    } else {
        DrawZeroLines(painter, map, unit);
        painter.save();
        painter.setClipRect(map.Frame);
        DrawMapLine(painter, map, figure, unit);
        painter.restore();
    }
    const FrameStyle style{unit, textHeight, gap, yLabelWidth};
    DrawFrame(painter, map, style, true);
    painter.setPen(Qt::black);
    DrawTitle(painter, QRectF(left, bottom + gap + textHeight + gap, right - left, textHeight), figure.XTitle);
    DrawVerticalTitle(painter, area.left() + outer, map.Frame, textHeight, heatMap ? figure.YTitle : figure.ValueTitle);
    DrawTitle(painter, QRectF(left, area.top() + outer, right - left, textHeight), figure.ValueTitle);
    if (!figure.Caption.empty()) {
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(QRectF(left, area.top() + outer + textHeight, right - left, textHeight), Qt::AlignCenter,
                         Text(figure.Caption));
    }

    if (heatMap) {
        // The colour bar: the scale's stops joined linearly, as ScaleColour joins them.
        const QRectF bar(right + 2 * gap, top, barWidth, bottom - top);
        QLinearGradient gradient(bar.bottomLeft(), bar.topLeft());
        for (int k = 0; k <= 4; ++k) {
            gradient.setColorAt(k / 4.0, ScaleColour(k / 4.0));
        }
        painter.fillRect(bar, gradient);
        const QPen framePen(Qt::black, kFrameWidth * unit, Qt::SolidLine, Qt::SquareCap);
        painter.setPen(framePen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(bar);
        const double labelWidth = WidestLabel(metrics, colour);
        for (double v : colour.Values) {
            const double y = bar.bottom() - (v - colour.Low) / (colour.High - colour.Low) * bar.height();
            painter.setPen(framePen);
            painter.drawLine(QPointF(bar.right(), y), QPointF(bar.right() - kTickLength * unit, y));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(bar.right() + gap, y - textHeight / 2, labelWidth + textHeight, textHeight),
                             Qt::AlignLeft | Qt::AlignVCenter, TickText(v, colour.Step));
        }
        DrawVerticalTitle(painter, bar.right() + gap + labelWidth + gap, map.Frame, textHeight, figure.ValueTitle);
    }
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

namespace {

// Paints a page of the figure's size into `area` with `pointsToDevice` device units a point.
using PagePainter = std::function<void(QPainter& painter, const QRectF& area, double pointsToDevice)>;

QImage RenderImage(double widthCm, double heightCm, int dpi, const PagePainter& paint) {
    CheckFigurePixels(widthCm, heightCm, dpi);
    const int width = static_cast<int>(PixelsAlong(widthCm, dpi));
    const int height = static_cast<int>(PixelsAlong(heightCm, dpi));
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
    paint(painter, QRectF(0, 0, width, height), dpi / kPointsPerInch);
    painter.end();
    return image;
}

std::string PageFileBytes(double widthCm, double heightCm, FigureFormat format, int dpi, const PagePainter& paint) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        throw ProgramError("A figure is drawn only while a graphical Qt application runs");
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const double widthPt = widthCm * 10 / kMmPerInch * kPointsPerInch;
    const double heightPt = heightCm * 10 / kMmPerInch * kPointsPerInch;
    switch (format) {
    case FigureFormat::Png:
        if (!RenderImage(widthCm, heightCm, dpi, paint).save(&buffer, "PNG")) {
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
        paint(painter, QRectF(0, 0, widthPt, heightPt), 1.0);
        painter.end();
        break;
    }
    case FigureFormat::Pdf: {
        QPdfWriter pdf(&buffer);
        pdf.setCreator(QStringLiteral("Dravo2"));
        pdf.setTitle(QStringLiteral("Dravo2 figure"));
        pdf.setPageSize(
            QPageSize(QSizeF(widthCm * 10, heightCm * 10), QPageSize::Millimeter, QString(), QPageSize::ExactMatch));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        const int resolution = 1200;
        pdf.setResolution(resolution);
        QPainter painter(&pdf);
        RequireActive(painter);
        paint(painter, QRectF(0, 0, pdf.width(), pdf.height()), resolution / kPointsPerInch);
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

} // namespace

QImage RenderFigureImage(const FigureDescription& figure, int dpi) {
    return RenderImage(
        figure.WidthCm, figure.HeightCm, dpi,
        [&figure](QPainter& painter, const QRectF& area, double unit) { PaintFigure(painter, figure, area, unit); });
}

std::string FigureFileBytes(const FigureDescription& figure, FigureFormat format, int dpi) {
    return PageFileBytes(
        figure.WidthCm, figure.HeightCm, format, dpi,
        [&figure](QPainter& painter, const QRectF& area, double unit) { PaintFigure(painter, figure, area, unit); });
}

std::string FigureFileBytes(const MapFigure& figure, FigureFormat format, int dpi) {
    return PageFileBytes(
        figure.WidthCm, figure.HeightCm, format, dpi,
        [&figure](QPainter& painter, const QRectF& area, double unit) { PaintMapFigure(painter, figure, area, unit); });
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

} // namespace figure
} // namespace dravo2
