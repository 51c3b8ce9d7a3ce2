#include "cli/scan_plot.h"

#include "data/errors.h"
#include "data/file_io.h"
#include "figure/figure_export.h"
#include "plot/figure.h"

#include <QBuffer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <algorithm>
#include <array>
#include <cmath>

namespace dravo2 {
namespace {

constexpr int kWidth = 960;
constexpr int kHeight = 720;
const QRect kArea(120, 60, 640, 560);

// A perceptually even blue-green-yellow scale, t from 0 to 1.
QColor ScaleColour(double t) {
    static const std::array<std::array<double, 3>, 5> stops{
        {{68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}}};
    t = std::clamp(t, 0.0, 1.0) * (stops.size() - 1);
    const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(t), stops.size() - 2);
    const double f = t - static_cast<double>(i);
    auto mix = [&](std::size_t c) {
        return static_cast<int>(std::lround(stops[i][c] + (stops[i + 1][c] - stops[i][c]) * f));
    };
    return QColor(mix(0), mix(1), mix(2));
}

QString Title(const std::string& name, const std::string& unit) {
    return QString::fromStdString(unit.empty() ? name : name + " (" + unit + ")");
}

QString Number(double value) {
    return QString::number(value, 'g', 4);
}

// Tick positions: about five of the values, first and last included.
std::vector<std::size_t> Ticks(std::size_t count) {
    std::vector<std::size_t> ticks;
    const std::size_t step = std::max<std::size_t>(1, (count + 4) / 5);
    for (std::size_t i = 0; i < count; i += step) {
        ticks.push_back(i);
    }
    if (ticks.back() != count - 1) {
        ticks.push_back(count - 1);
    }
    return ticks;
}

double Fraction(std::size_t i, std::size_t count) {
    return count <= 1 ? 0.5 : static_cast<double>(i) / static_cast<double>(count - 1);
}

void DrawVerticalTitle(QPainter& painter, const QString& text, int x, int centreY) {
    painter.save();
    painter.translate(x, centreY);
    painter.rotate(-90);
    painter.drawText(QRect(-300, -20, 600, 24), Qt::AlignCenter, text);
    painter.restore();
}

// Draws the map on a white page of kWidth x kHeight units of the painter's coordinates.
void PaintMap(QPainter& painter, const ScanPlotRequest& request) {
    const ScanMap& map = request.Map;
    painter.fillRect(QRect(0, 0, kWidth, kHeight), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font = painter.font();
    font.setPixelSize(15);
    painter.setFont(font);

    double low = 0;
    double high = 0;
    bool any = false;
    for (const auto& value : map.Values) {
        if (value && std::isfinite(*value)) {
            low = any ? std::min(low, *value) : *value;
            high = any ? std::max(high, *value) : *value;
            any = true;
        }
    }
    const double span = high > low ? high - low : 1;
    const std::vector<double>& xs = map.AxisValues[0];
    const QString xTitle = Title(map.AxisNames[0], request.AxisUnits.empty() ? "" : request.AxisUnits[0]);
    const QString feature = QString::fromStdString(map.FeatureTitle);
    auto xAt = [&](std::size_t i) { return kArea.left() + Fraction(i, xs.size()) * kArea.width(); };

    if (map.AxisValues.size() == 2) {
        const std::vector<double>& ys = map.AxisValues[1];
        const double cellW = static_cast<double>(kArea.width()) / static_cast<double>(xs.size());
        const double cellH = static_cast<double>(kArea.height()) / static_cast<double>(ys.size());
        // The cells are painted into one picture of the plot area's size, edge to edge with no
        // smoothing, and that picture is placed on the page: no seams in any viewer, and a vector
        // file holds one image rather than a rectangle per grid point.
        QImage cells(kArea.size(), QImage::Format_RGB32);
        {
            QPainter cellPainter(&cells);
            for (std::size_t ix = 0; ix < xs.size(); ++ix) {
                for (std::size_t iy = 0; iy < ys.size(); ++iy) {
                    const auto& value = map.Values[ix * ys.size() + iy];
                    const int left = static_cast<int>(std::lround(cellW * static_cast<double>(ix)));
                    const int right = static_cast<int>(std::lround(cellW * static_cast<double>(ix + 1)));
                    const int top = kArea.height() - static_cast<int>(std::lround(cellH * static_cast<double>(iy + 1)));
                    const int bottom = kArea.height() - static_cast<int>(std::lround(cellH * static_cast<double>(iy)));
                    cellPainter.fillRect(QRect(left, top, right - left, bottom - top),
                                         value && std::isfinite(*value) ? ScaleColour((*value - low) / span)
                                                                        : QColor(200, 200, 200));
                }
            }
        }
        painter.drawImage(QRectF(kArea.left(), kArea.top(), kArea.width(), kArea.height()), cells);
        for (const std::size_t i : Ticks(xs.size())) {
            const double x = kArea.left() + cellW * (static_cast<double>(i) + 0.5);
            painter.drawLine(QPointF(x, kArea.bottom()), QPointF(x, kArea.bottom() + 6));
            painter.drawText(QRectF(x - 60, kArea.bottom() + 8, 120, 20), Qt::AlignCenter, Number(xs[i]));
        }
        for (const std::size_t i : Ticks(ys.size())) {
            const double y = kArea.bottom() - cellH * (static_cast<double>(i) + 0.5);
            painter.drawLine(QPointF(kArea.left() - 6, y), QPointF(kArea.left(), y));
            painter.drawText(QRectF(kArea.left() - 110, y - 10, 100, 20), Qt::AlignRight | Qt::AlignVCenter,
                             Number(ys[i]));
        }
        DrawVerticalTitle(painter, Title(map.AxisNames[1], request.AxisUnits.size() > 1 ? request.AxisUnits[1] : ""),
                          20, kArea.center().y());
        // The colour bar and its scale.
        const QRect bar(kArea.right() + 40, kArea.top(), 24, kArea.height());
        // The scale's stops joined linearly, as ScaleColour joins them.
        QLinearGradient gradient(QPointF(0, bar.bottom()), QPointF(0, bar.top()));
        for (int k = 0; k <= 4; ++k) {
            gradient.setColorAt(k / 4.0, ScaleColour(k / 4.0));
        }
        painter.fillRect(bar, gradient);
        painter.drawRect(bar);
        // Round values of the figures' axes, those within the range of the colours.
        const AxisTicks ticks = NiceTicks(low, high);
        for (const double value : any ? ticks.Values : std::vector<double>{}) {
            if (value < low - span * 1e-9 || value > high + span * 1e-9) {
                continue;
            }
            const double y = bar.bottom() - (value - low) / span * bar.height();
            painter.drawLine(QPointF(bar.right(), y), QPointF(bar.right() + 5, y));
            painter.drawText(QRectF(bar.right() + 8, y - 10, 120, 20), Qt::AlignLeft | Qt::AlignVCenter,
                             QString::fromStdString(TickLabel(value, ticks.Step)));
        }
        DrawVerticalTitle(painter, feature, kWidth - 14, bar.center().y());
    } else {
        // One parameter: the feature against it, with gaps where it does not exist, on round
        // values of the figures' axes.
        const AxisTicks ticks = NiceTicks(low, high);
        const double bottom = ticks.Low;
        const double range = ticks.High > ticks.Low ? ticks.High - ticks.Low : 1;
        QPainterPath path;
        bool drawing = false;
        for (std::size_t i = 0; i < xs.size(); ++i) {
            const auto& value = map.Values[i];
            if (!value || !std::isfinite(*value)) {
                drawing = false;
                continue;
            }
            const QPointF point(xAt(i), kArea.bottom() - (*value - bottom) / range * kArea.height());
            drawing ? path.lineTo(point) : path.moveTo(point);
            drawing = true;
            painter.setBrush(QColor(33, 145, 140));
            painter.drawEllipse(point, 3, 3);
        }
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(33, 145, 140), 2));
        painter.drawPath(path);
        painter.setPen(Qt::black);
        for (const std::size_t i : Ticks(xs.size())) {
            painter.drawLine(QPointF(xAt(i), kArea.bottom()), QPointF(xAt(i), kArea.bottom() + 6));
            painter.drawText(QRectF(xAt(i) - 60, kArea.bottom() + 8, 120, 20), Qt::AlignCenter, Number(xs[i]));
        }
        for (const double value : any ? ticks.Values : std::vector<double>{}) {
            const double y = kArea.bottom() - (value - bottom) / range * kArea.height();
            painter.drawLine(QPointF(kArea.left() - 6, y), QPointF(kArea.left(), y));
            painter.drawText(QRectF(kArea.left() - 110, y - 10, 100, 20), Qt::AlignRight | Qt::AlignVCenter,
                             QString::fromStdString(TickLabel(value, ticks.Step)));
        }
        DrawVerticalTitle(painter, feature, 20, kArea.center().y());
    }
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(kArea);
    painter.drawText(QRect(kArea.left(), kArea.bottom() + 34, kArea.width(), 24), Qt::AlignCenter, xTitle);
    painter.drawText(QRect(kArea.left(), 16, kArea.width(), 28), Qt::AlignCenter,
                     any ? feature : feature + QStringLiteral(": no values"));
}

// A painter that could not begin on its device draws nothing: no empty map is written.
void RequireActive(const QPainter& painter) {
    if (!painter.isActive()) {
        throw ProgramError("The map could not be drawn");
    }
}

} // namespace

WriteNote DrawScanMap(const ScanPlotRequest& request) {
    const OffscreenGui gui;
    const FigureFormat format = FigureFormatForPath(request.Path).value_or(FigureFormat::Png);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (format == FigureFormat::Svg) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(QSize(kWidth, kHeight));
        svg.setViewBox(QRect(0, 0, kWidth, kHeight));
        svg.setTitle(QString::fromStdString(request.Map.FeatureTitle));
        QPainter painter(&svg);
        RequireActive(painter);
        PaintMap(painter, request);
    } else if (format == FigureFormat::Pdf) {
        // One page of the picture's size, at three quarters of a point per unit (96 units an inch).
        QPdfWriter pdf(&buffer);
        pdf.setPageSize(QPageSize(QSizeF(kWidth * 0.75, kHeight * 0.75), QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setResolution(288);
        pdf.setTitle(QString::fromStdString(request.Map.FeatureTitle));
        QPainter painter(&pdf);
        RequireActive(painter);
        painter.scale(pdf.width() / static_cast<double>(kWidth), pdf.height() / static_cast<double>(kHeight));
        PaintMap(painter, request);
    } else {
        QImage image(kWidth, kHeight, QImage::Format_RGB32);
        {
            QPainter painter(&image);
            RequireActive(painter);
            PaintMap(painter, request);
        }
        if (!image.save(&buffer, "PNG")) {
            throw InputOutputError("Cannot encode the map as PNG");
        }
    }
    buffer.close();
    if (bytes.isEmpty()) {
        throw ProgramError("The map could not be drawn");
    }
    return WriteFileSafely(request.Path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

} // namespace dravo2
