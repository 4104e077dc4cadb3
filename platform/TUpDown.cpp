#include "platform/TUpDown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

TUpDown::TUpDown(QLineEdit* buddy, QWidget* parent) : QWidget(parent), m_buddy(buddy) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* up = new QToolButton(this);
    auto* down = new QToolButton(this);
    up->setArrowType(Qt::UpArrow);
    down->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up, down}) {
        b->setFixedSize(16, 11);
        b->setAutoRepeat(true);
        layout->addWidget(b);
    }
    connect(up, &QToolButton::clicked, this, [this] { step(1); });
    connect(down, &QToolButton::clicked, this, [this] { step(-1); });
}

int TUpDown::Position() const {
    bool ok = false;
    const int v = m_buddy->text().trimmed().toInt(&ok);
    return ok ? std::clamp(v, Min, Max) : Min;
}

void TUpDown::setPosition(int v) {
    m_buddy->setText(QString::number(std::clamp(v, Min, Max)));
}

void TUpDown::step(int delta) {
    setPosition(Position() + delta);
    emit clicked();
}
