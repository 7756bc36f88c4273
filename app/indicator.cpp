#include "app/indicator.h"

#include <QPainter>

Indicator::Indicator(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void Indicator::setFillColor(const QColor &color)
{
    if (color == m_fillColor)
        return;
    m_fillColor = color;
    update();
}

void Indicator::setPortOpen(bool open)
{
    if (open == m_portOpen)
        return;
    m_portOpen = open;
    update();
}

void Indicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int diameter = qMin(width(), height()) - 1;
    QRectF circle(0, 0, diameter, diameter);
    circle.moveCenter(QRectF(rect()).center());
    if (m_portOpen) {
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(m_fillColor);
        painter.drawEllipse(circle);
        return;
    }
    const qreal stroke = qMax<qreal>(2.0, diameter / 10.0);
    painter.setPen(QPen(Qt::darkGray, stroke, Qt::DashLine));
    painter.setBrush(QColor(224, 224, 224));
    const QRectF ring = circle.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2);
    painter.drawEllipse(ring);
    painter.setPen(QPen(Qt::darkGray, stroke, Qt::SolidLine, Qt::RoundCap));
    const qreal inset = ring.width() * 0.15;
    painter.drawLine(ring.bottomLeft() + QPointF(inset, -inset),
                     ring.topRight() + QPointF(-inset, inset));
}
