#pragma once

#include "plot/canvas.h"

#include <QWidget>

namespace dravo2 {
inline namespace ui {

// Shows the pixels of a canvas as they are; the canvas is the only drawing surface.
class CanvasView : public QWidget {
    Q_OBJECT
public:
    CanvasView(const Canvas& canvas, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Canvas& Source;
};

} // namespace ui
} // namespace dravo2
