#pragma once

#include <QColor>
#include <QWidget>

// The round transmit/receive lamp: a filled circle in its fill colour while the port is open.
// With no port open it is a grey, struck-through ring whatever the fill colour, so "receiving"
// is never claimed for a radio that is not reached.
class Indicator : public QWidget
{
    Q_OBJECT
public:
    explicit Indicator(QWidget *parent = nullptr);

    QColor FillColor() const { return m_fillColor; }
    void setFillColor(const QColor &color);
    bool portOpen() const { return m_portOpen; }
    void setPortOpen(bool open);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fillColor = QColor(0, 255, 0);
    bool m_portOpen = true;
};
