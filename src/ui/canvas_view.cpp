#include "ui/canvas_view.h"

#include <QImage>
#include <QPainter>

namespace dravo2 {
inline namespace ui {

CanvasView::CanvasView(const Canvas& canvas, QWidget* parent) : QWidget(parent), Source(canvas) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CanvasView::paintEvent(QPaintEvent*) {
    // Colours are 0x00RRGGBB; RGB32 ignores the top byte.
    const QImage image(reinterpret_cast<const uchar*>(Source.Pixels().data()), Source.Width(), Source.Height(),
                       static_cast<qsizetype>(Source.Width()) * 4, QImage::Format_RGB32);
    QPainter painter(this);
    painter.drawImage(0, 0, image);
}

} // namespace ui
} // namespace dravo2
