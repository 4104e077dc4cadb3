#include "platform/DisplayProfile.h"

#include <QFile>
#include <QGuiApplication>

#ifdef CAPTIOMARK_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <xcb/xcb.h>
#endif

namespace {

// Larger profiles are not display profiles.
constexpr qint64 kMaxProfile = qint64(4) << 20;

#ifdef CAPTIOMARK_HAVE_XCB
QByteArray rootWindowProfile() {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return {};
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return {};
    static const char name[] = "_ICC_PROFILE";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr);
    if (!atom)
        return {};
    const xcb_atom_t id = atom->atom;
    std::free(atom);
    if (id == XCB_ATOM_NONE)
        return {};
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, screen->root, id, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxProfile / 4),
        nullptr);
    if (!reply)
        return {};
    QByteArray profile;
    if (reply->format == 8)
        profile = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                             xcb_get_property_value_length(reply));
    std::free(reply);
    return profile;
}
#endif

} // namespace

QByteArray DisplayIccProfile() {
    const QByteArray named = qgetenv("CAPTIOMARK_DISPLAY_PROFILE");
    if (!named.isEmpty()) {
        QFile file(QString::fromLocal8Bit(named));
        if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxProfile)
            return file.readAll();
        return {};
    }
#ifdef CAPTIOMARK_HAVE_XCB
    return rootWindowProfile();
#else
    return {};
#endif
}
