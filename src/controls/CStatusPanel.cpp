#include "CStatusPanel.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <utility>

namespace {

constexpr int Margin = 4;
constexpr int GraphWidth = 120;
const QColor GraphLine(38, 138, 22);
const QColor GraphFill(183, 216, 178);

} // namespace

CStatusPanel::CStatusPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CStatusPanel::SetText(const QString& text) {
    if (text != text_) {
        text_ = text;
        setAccessibleDescription(text);
        update();
    }
}

void CStatusPanel::SetSpeeds(std::vector<std::int64_t> speeds) {
    if (speeds != speeds_) {
        speeds_ = std::move(speeds);
        update();
    }
}

void CStatusPanel::KeepTextOutOf(const QRect& area) {
    keptFree_ = area;
    update();
}

QRect CStatusPanel::Inside() const {
    return contentsRect().adjusted(Margin, Margin / 2, -Margin, -Margin / 2);
}

bool CStatusPanel::ShowsGraph() const {
    return speeds_.size() > 1 && Inside().width() > 2 * GraphWidth;
}

QRect CStatusPanel::TextArea() const {
    QRect area = Inside();
    if (ShowsGraph()) {
        area.setRight(area.right() - GraphWidth - Margin);
    }
    if (area.intersects(keptFree_)) {
        area.setTop(keptFree_.bottom() + 1);
    }
    return area;
}

QStringList CStatusPanel::ShownLines() const {
    const int width = TextArea().width();
    QStringList lines = text_.split('\n');
    for (QString& line : lines) {
        line = fontMetrics().elidedText(line, Qt::ElideMiddle, width);
    }
    return lines;
}

void CStatusPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect inside = Inside();
    painter.drawText(TextArea(), Qt::AlignLeft | Qt::AlignVCenter, ShownLines().join('\n'));
    if (!ShowsGraph()) {
        return;
    }
    const QRect area(inside.right() - GraphWidth + 1, inside.top(), GraphWidth, inside.height());
    const double highest =
        std::max<double>(1, static_cast<double>(*std::max_element(speeds_.begin(), speeds_.end())));
    const double step =
        static_cast<double>(area.width() - 1) / static_cast<double>(speeds_.size() - 1);
    QPainterPath line;
    for (std::size_t i = 0; i < speeds_.size(); ++i) {
        const QPointF point(area.left() + step * static_cast<double>(i),
                            area.bottom() -
                                (area.height() - 1) * static_cast<double>(speeds_[i]) / highest);
        i == 0 ? line.moveTo(point) : line.lineTo(point);
    }
    QPainterPath filled = line;
    filled.lineTo(area.right(), area.bottom());
    filled.lineTo(area.left(), area.bottom());
    filled.closeSubpath();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(filled, GraphFill);
    painter.setPen(GraphLine);
    painter.drawPath(line);
}
