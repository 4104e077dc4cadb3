#pragma once

#include <QImage>
#include <QWidget>

// A token of the rename template: paints EnabledPicture or DisabledPicture, whichever matches
// its enabled state, stretched over its client area. The colour of the enabled picture's pixel
// at (0, 45) is transparent in both.
class TToolBox : public QWidget {
    Q_OBJECT

public:
    explicit TToolBox(QWidget* parent = nullptr);

    QImage EnabledPicture;
    QImage DisabledPicture;

    // The colour drawn transparent (invalid when the enabled picture has no pixel (0, 45)).
    QColor TransparentColor() const;
    // The picture as painted: the one for the enabled state, its key colour made transparent.
    QImage ShownPicture() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The pictures of token box j (0 date, 1 time, 2 number, 3 old name), 48 x 48, drawn over the
// key colour; disabled ones in greys.
QImage TokenPicture(int j, bool enabled);
// InsertMarker's picture: a bar the height of a token, marking the slot a token will land in.
QImage InsertMarkerPicture(int height);
// The key colour of the token pictures.
QRgb TokenKeyColor();
