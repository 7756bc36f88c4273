#pragma once

#include <QColor>
#include <QWidget>

// The round transmit/receive lamp: a filled circle in its fill colour.
class Indicator : public QWidget
{
    Q_OBJECT
public:
    explicit Indicator(QWidget *parent = nullptr);

    QColor FillColor() const { return m_fillColor; }
    void setFillColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fillColor = QColor(0, 255, 0);
};
