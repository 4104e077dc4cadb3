#include "imaging/core/PhotoTags.h"

#include "imaging/core/ExifMend.h"

#include <exiv2/exiv2.hpp>

#include <cmath>
#include <memory>

const QStringList PhotoTagNames = {
    QStringLiteral("Make"),         QStringLiteral("Model"),        QStringLiteral("Lens"),
    QStringLiteral("Software"),     QStringLiteral("FNumber"),      QStringLiteral("Exposure"),
    QStringLiteral("ISO"),          QStringLiteral("FocalLength"),  QStringLiteral("FocalLength35"),
    QStringLiteral("ExposureBias"), QStringLiteral("Flash"),        QStringLiteral("GPS"),
    QStringLiteral("Altitude"),     QStringLiteral("Title"),        QStringLiteral("Caption"),
    QStringLiteral("Creator"),      QStringLiteral("Copyright"),    QStringLiteral("City"),
    QStringLiteral("State"),        QStringLiteral("Country"),      QStringLiteral("Keywords"),
};

namespace {
// One decimal, none when it is zero: 2.8, 8, 4.3.
QString oneDecimal(double v) {
    QString t = QString::number(std::round(v * 10.0) / 10.0, 'f', 1);
    if (t.endsWith(QLatin1String(".0")))
        t.chop(2);
    if (t == QLatin1String("-0"))
        t = QStringLiteral("0");
    return t;
}

QString str(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size())).remove(QChar(0)).trimmed();
}

// A rational entry's value as a number; nullopt for a zero denominator or no entry.
std::optional<double> number(const Exiv2::ExifData& ed, const char* key, long component = 0) {
    const auto it = ed.findKey(Exiv2::ExifKey(key));
    if (it == ed.end() || it->count() <= component)
        return std::nullopt;
    if (it->typeId() == Exiv2::unsignedRational || it->typeId() == Exiv2::signedRational) {
        const Exiv2::Rational r = it->toRational(component);
        if (r.second == 0)
            return std::nullopt;
        return double(r.first) / double(r.second);
    }
    return double(it->toLong(component));
}

QString exifText(const Exiv2::ExifData& ed, const char* key) {
    const auto it = ed.findKey(Exiv2::ExifKey(key));
    return it == ed.end() ? QString() : str(it->toString());
}

QString iptcText(const Exiv2::IptcData& id, const char* key, const QString& joiner = QString()) {
    QStringList parts;
    for (const Exiv2::Iptcdatum& d : id) {
        if (d.key() != key)
            continue;
        const QString t = str(d.toString());
        if (!t.isEmpty())
            parts.append(t);
        if (joiner.isEmpty())
            break;
    }
    return parts.join(joiner);
}

QString xmpText(const Exiv2::XmpData& xd, const char* key) {
    const auto it = xd.findKey(Exiv2::XmpKey(key));
    if (it == xd.end())
        return QString();
    const Exiv2::Value& v = it->value();
    if (v.typeId() == Exiv2::langAlt) {
        const auto& alt = static_cast<const Exiv2::LangAltValue&>(v);
        const auto def = alt.value_.find("x-default");
        if (def != alt.value_.end())
            return str(def->second);
        return alt.value_.empty() ? QString() : str(alt.value_.begin()->second);
    }
    if (v.typeId() == Exiv2::xmpBag || v.typeId() == Exiv2::xmpSeq || v.typeId() == Exiv2::xmpAlt) {
        QStringList parts;
        for (long i = 0; i < v.count(); ++i) {
            const QString t = str(v.toString(i));
            if (!t.isEmpty())
                parts.append(t);
        }
        return parts.join(QStringLiteral(", "));
    }
    return str(v.toString());
}

double dms(const Exiv2::ExifData& ed, const char* key, bool* ok) {
    const auto d = number(ed, key, 0), m = number(ed, key, 1), s = number(ed, key, 2);
    *ok = d.has_value();
    return d.value_or(0) + m.value_or(0) / 60.0 + s.value_or(0) / 3600.0;
}

void put(TPhotoTags& tags, const char* name, const QString& value) {
    if (!value.isEmpty())
        tags.values.insert(QString::fromLatin1(name), value);
}

QString firstOf(std::initializer_list<QString> texts) {
    for (const QString& t : texts)
        if (!t.isEmpty())
            return t;
    return QString();
}

// An angle as d°mm′ss″ to the nearest second.
QString angleText(double degrees) {
    const qint64 total = std::llround(std::fabs(degrees) * 3600.0);
    return QStringLiteral("%1°%2′%3″")
        .arg(total / 3600)
        .arg(total / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(total % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

QString FNumberText(double f) {
    return QStringLiteral("f/") + oneDecimal(f);
}

QString ExposureText(double seconds) {
    if (!(seconds > 0))
        return QString();
    if (seconds >= 1.0 - 1e-9)
        return oneDecimal(seconds) + QStringLiteral(" s");
    // Shorter times are fractions of a second, as a shutter dial writes them.
    return QStringLiteral("1/%1 s").arg(std::llround(1.0 / seconds));
}

QString FocalLengthText(double millimetres) {
    return oneDecimal(millimetres) + QStringLiteral(" mm");
}

QString ExposureBiasText(double ev) {
    const QString t = oneDecimal(ev);
    return (t != QLatin1String("0") && ev > 0 ? QStringLiteral("+") : QString()) + t +
           QStringLiteral(" EV");
}

QString GpsText(double latitude, const QString& latRef, double longitude, const QString& lonRef) {
    // A reference missing: the sign of the value tells it.
    const QString ns = latRef.isEmpty() ? (latitude < 0 ? QStringLiteral("S") : QStringLiteral("N"))
                                        : latRef.toUpper();
    const QString ew = lonRef.isEmpty() ? (longitude < 0 ? QStringLiteral("W") : QStringLiteral("E"))
                                        : lonRef.toUpper();
    return angleText(latitude) + QLatin1Char(' ') + ns + QLatin1Char(' ') + angleText(longitude) +
           QLatin1Char(' ') + ew;
}

QString AltitudeText(double metres, bool belowSeaLevel) {
    const qint64 m = std::llround(std::fabs(metres));
    return QStringLiteral("%1%2 m").arg(belowSeaLevel && m != 0 ? QStringLiteral("-") : QString()).arg(m);
}

TPhotoTags ReadPhotoTags(const QByteArray& file) {
    TPhotoTags tags;
    if (file.isEmpty())
        return tags;
    std::lock_guard<std::mutex> guard(Exiv2Lock());
    try {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte*>(file.constData()), long(file.size()));
#pragma GCC diagnostic pop
        if (!image.get())
            return tags;
        image->readMetadata();
        const Exiv2::ExifData& ed = image->exifData();
        const Exiv2::IptcData& id = image->iptcData();
        const Exiv2::XmpData& xd = image->xmpData();

        put(tags, "Make", exifText(ed, "Exif.Image.Make"));
        put(tags, "Model", exifText(ed, "Exif.Image.Model"));
        put(tags, "Software", exifText(ed, "Exif.Image.Software"));
        QString lens = exifText(ed, "Exif.Photo.LensModel");
        if (lens.isEmpty()) {
            // The maker's own lens tag, named as exiv2 knows the lens.
            const auto it = Exiv2::lensName(ed);
            if (it != ed.end()) {
                std::ostringstream printed;
                it->write(printed, &ed);
                lens = str(printed.str());
                bool numeric = !lens.isEmpty();
                for (QChar c : lens)
                    numeric = numeric && (c.isDigit() || c.isSpace());
                if (numeric || lens.startsWith(QLatin1Char('(')))
                    lens.clear(); // an id exiv2 has no name for says nothing
            }
        }
        put(tags, "Lens", lens);
        if (const auto f = number(ed, "Exif.Photo.FNumber"); f && *f > 0)
            put(tags, "FNumber", FNumberText(*f));
        if (const auto t = number(ed, "Exif.Photo.ExposureTime"); t && *t > 0)
            put(tags, "Exposure", ExposureText(*t));
        if (const auto iso = number(ed, "Exif.Photo.ISOSpeedRatings"); iso && *iso > 0)
            put(tags, "ISO", QStringLiteral("ISO %1").arg(std::llround(*iso)));
        if (const auto fl = number(ed, "Exif.Photo.FocalLength"); fl && *fl > 0)
            put(tags, "FocalLength", FocalLengthText(*fl));
        if (const auto fl = number(ed, "Exif.Photo.FocalLengthIn35mmFilm"); fl && *fl > 0)
            put(tags, "FocalLength35", FocalLengthText(*fl));
        if (const auto ev = number(ed, "Exif.Photo.ExposureBiasValue"))
            put(tags, "ExposureBias", ExposureBiasText(*ev));
        if (const auto flash = number(ed, "Exif.Photo.Flash"))
            // Present but empty when it did not fire: the photo has the field.
            tags.values.insert(QStringLiteral("Flash"),
                               (std::llround(*flash) & 1) ? QStringLiteral("Flash") : QString());
        bool latOk = false, lonOk = false;
        const double lat = dms(ed, "Exif.GPSInfo.GPSLatitude", &latOk);
        const double lon = dms(ed, "Exif.GPSInfo.GPSLongitude", &lonOk);
        if (latOk && lonOk)
            put(tags, "GPS",
                GpsText(lat, exifText(ed, "Exif.GPSInfo.GPSLatitudeRef"), lon,
                        exifText(ed, "Exif.GPSInfo.GPSLongitudeRef")));
        if (const auto alt = number(ed, "Exif.GPSInfo.GPSAltitude"))
            put(tags, "Altitude",
                AltitudeText(*alt, number(ed, "Exif.GPSInfo.GPSAltitudeRef").value_or(0) == 1));

        put(tags, "Title",
            firstOf({xmpText(xd, "Xmp.dc.title"), iptcText(id, "Iptc.Application2.ObjectName")}));
        put(tags, "Caption",
            firstOf({xmpText(xd, "Xmp.dc.description"),
                     iptcText(id, "Iptc.Application2.Caption"),
                     exifText(ed, "Exif.Image.ImageDescription")}));
        put(tags, "Creator",
            firstOf({xmpText(xd, "Xmp.dc.creator"),
                     iptcText(id, "Iptc.Application2.Byline", QStringLiteral(", ")),
                     exifText(ed, "Exif.Image.Artist")}));
        put(tags, "Copyright",
            firstOf({xmpText(xd, "Xmp.dc.rights"), iptcText(id, "Iptc.Application2.Copyright"),
                     exifText(ed, "Exif.Image.Copyright")}));
        put(tags, "City",
            firstOf({xmpText(xd, "Xmp.photoshop.City"), xmpText(xd, "Xmp.iptc.Location"),
                     iptcText(id, "Iptc.Application2.City")}));
        put(tags, "State",
            firstOf({xmpText(xd, "Xmp.photoshop.State"),
                     iptcText(id, "Iptc.Application2.ProvinceState")}));
        put(tags, "Country",
            firstOf({xmpText(xd, "Xmp.photoshop.Country"),
                     iptcText(id, "Iptc.Application2.CountryName")}));
        put(tags, "Keywords",
            firstOf({xmpText(xd, "Xmp.dc.subject"),
                     iptcText(id, "Iptc.Application2.Keywords", QStringLiteral(", "))}));
    } catch (...) {
        // exiv2 could not read the file: what was read stays.
    }
    return tags;
}
