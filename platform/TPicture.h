#pragma once

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QString>
#include <functional>

// The picture of a picture control: the graphic's class name and its own file data (kept so
// that a pattern stores exactly what was loaded) and the decoded image for drawing.
class TPicture : public QObject {
    Q_OBJECT
    Q_PROPERTY(QByteArray Data READ Data WRITE setData)

public:
    struct Graphic {
        QString className; // "TJPEGImage", "TBitmap", "TPngImage", "TGIFImage", "TIcon", ...
        QByteArray data;   // the graphic's own file bytes
        QImage image;
    };
    // Decodes Picture.Data (class name + data) into a graphic; installed by the imaging layer.
    using DataDecoder = std::function<Graphic(const QByteArray& pictureData)>;
    using DataEncoder = std::function<QByteArray(const Graphic&)>;
    static void SetCodec(DataDecoder decoder, DataEncoder encoder);

    using QObject::QObject;

    bool isEmpty() const { return m_graphic.image.isNull(); }
    const Graphic& graphic() const { return m_graphic; }
    const QImage& image() const { return m_graphic.image; }
    QString graphicClassName() const { return m_graphic.className; }
    // The image as a control draws it: with transparent set, a bitmap loses the colour of its
    // bottom-left pixel (the toolkit's automatic transparent colour); other graphics keep
    // their own alpha either way.
    QImage drawnImage(bool transparent) const;

    void setGraphic(Graphic g);
    void clear();
    void Assign(const TPicture& other) { setGraphic(other.m_graphic); }

    // The streamed form: class name as a short string, then the class's data.
    QByteArray Data() const;
    void setData(const QByteArray& pictureData); // throws what the decoder throws

signals:
    void changed();

private:
    Graphic m_graphic;
};
