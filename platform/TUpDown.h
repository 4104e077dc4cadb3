#pragma once

#include <QWidget>

class QLineEdit;

// A pair of arrow buttons that step the integer in a line edit within a range.
class TUpDown : public QWidget {
    Q_OBJECT

public:
    TUpDown(QLineEdit* buddy, QWidget* parent);
    int Min = 0;
    int Max = 100;
    int Position() const;
    void setPosition(int v);
    void step(int delta);

signals:
    void clicked();

private:
    QLineEdit* m_buddy;
};
