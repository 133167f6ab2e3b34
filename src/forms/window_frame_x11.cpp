// The window manager requests that Qt's window flags cannot express on X11.

#include "forms/window_frame.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <vector>

namespace Marlet::Forms {

namespace {

// Motif window manager hints, as window managers read them (five 32-bit values).
constexpr quint32 mwmHintsFunctions = 1u << 0;
constexpr quint32 mwmHintsDecorations = 1u << 1;
constexpr quint32 mwmFuncMove = 1u << 2;
constexpr quint32 mwmFuncClose = 1u << 5;
constexpr quint32 mwmDecorBorder = 1u << 1;
constexpr quint32 mwmDecorTitle = 1u << 3;
constexpr quint32 mwmDecorMenu = 1u << 4;

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, quint16(qstrlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Adds states to an unmapped window's _NET_WM_STATE, keeping those already there (Qt
// merges its own into the list the same way when it maps the window).
void addStates(xcb_connection_t* connection, xcb_window_t id,
               std::initializer_list<xcb_atom_t> added)
{
    const xcb_atom_t property = atom(connection, "_NET_WM_STATE");
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, id, property, XCB_ATOM_ATOM, 0, 64);
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection, cookie, nullptr), &std::free);
    std::vector<xcb_atom_t> states;
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* first = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        states.assign(first, first + reply->value_len);
    }
    for (const xcb_atom_t state : added) {
        if (state != XCB_ATOM_NONE &&
            std::find(states.begin(), states.end(), state) == states.end())
            states.push_back(state);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, property, XCB_ATOM_ATOM, 32,
                        quint32(states.size()), states.data());
}

void applyRequests(QWidget* window, FrameRole role)
{
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const auto id = xcb_window_t(window->winId());
    const std::array<quint32, 5> hints{mwmHintsFunctions | mwmHintsDecorations,
                                       mwmFuncMove | mwmFuncClose,
                                       mwmDecorBorder | mwmDecorTitle | mwmDecorMenu, 0, 0};
    const xcb_atom_t motif = atom(connection, "_MOTIF_WM_HINTS");
    if (motif != XCB_ATOM_NONE)
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, motif, motif, 32,
                            quint32(hints.size()), hints.data());
    if (role == FrameRole::Secondary)
        addStates(connection, id,
                  {atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                   atom(connection, "_NET_WM_STATE_SKIP_PAGER")});
    xcb_flush(connection);
}

// Applies the requests while the window is still unmapped: Qt creates the native window
// before the show event and maps it after.
class FrameRequests final : public QObject
{
public:
    FrameRequests(QWidget* window, FrameRole role) : QObject(window), m_role(role)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched == parent())
            applyRequests(static_cast<QWidget*>(watched), m_role);
        return false;
    }

private:
    FrameRole m_role;
};

} // namespace

void requestFixedFrame(QWidget* window, FrameRole role)
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        new FrameRequests(window, role);
}

} // namespace Marlet::Forms
