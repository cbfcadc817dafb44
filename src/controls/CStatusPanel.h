#pragma once

#include <QFrame>
#include <QRect>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class QPaintEvent;

// The sunken panel under the list: lines of text on the left and, when it has any, a graph of
// speeds on the right, the newest at the right edge, scaled to the highest. Clicks go through it
// to whatever lies below.
class CStatusPanel : public QFrame {
    Q_OBJECT

public:
    explicit CStatusPanel(QWidget* parent = nullptr);

    void SetText(const QString& text);
    const QString& Text() const { return text_; }
    // The text's lines as they fit the panel: a line too long loses its middle to an ellipsis.
    QStringList ShownLines() const;
    void SetSpeeds(std::vector<std::int64_t> speeds);
    // A part of the panel (in its own coordinates) that another control covers: the text starts
    // below it.
    void KeepTextOutOf(const QRect& area);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect Inside() const;
    bool ShowsGraph() const;
    // Inside, less the graph and what the text keeps out of.
    QRect TextArea() const;

    QString text_;
    std::vector<std::int64_t> speeds_;
    QRect keptFree_;
};
