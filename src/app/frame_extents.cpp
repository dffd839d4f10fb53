#include "app/frame_extents.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <xcb/xcb.h>

namespace nagisora {
namespace {

// A reply of xcb, freed with its owner.
template <class Reply>
using ReplyHandle = std::unique_ptr<Reply, decltype(&std::free)>;

template <class Reply>
ReplyHandle<Reply> Owned(Reply* reply) {
    return ReplyHandle<Reply>(reply, &std::free);
}

enum Atom { SupportedAtom, RequestAtom, ExtentsAtom, AtomCount };

std::array<xcb_atom_t, AtomCount> InternAtoms(xcb_connection_t* connection) {
    constexpr std::array<std::string_view, AtomCount> names{"_NET_SUPPORTED", "_NET_REQUEST_FRAME_EXTENTS",
                                                            "_NET_FRAME_EXTENTS"};
    std::array<xcb_intern_atom_cookie_t, AtomCount> cookies{};
    for (std::size_t k = 0; k < names.size(); ++k)
        cookies[k] =
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(names[k].size()), names[k].data());
    std::array<xcb_atom_t, AtomCount> atoms{};
    for (std::size_t k = 0; k < names.size(); ++k)
        if (const auto reply = Owned(xcb_intern_atom_reply(connection, cookies[k], nullptr)))
            atoms[k] = reply->atom;
    return atoms;
}

// Whether the running window manager lists the atom among the hints it supports.
bool Supports(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t supported, xcb_atom_t atom) {
    const auto reply = Owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, root, supported, XCB_ATOM_ATOM, 0, 4096), nullptr));
    if (!reply || reply->format != 32) return false;
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::find(atoms, atoms + count, atom) != atoms + count;
}

// _NET_FRAME_EXTENTS of the window (left, right, top, bottom), once the window manager has set it.
std::optional<QMargins> ReadExtents(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t extents) {
    const auto reply = Owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 16)
        return std::nullopt;
    const auto* value = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return QMargins(static_cast<int>(value[0]), static_cast<int>(value[2]), static_cast<int>(value[1]),
                    static_cast<int>(value[3]));
}

xcb_window_t RootOf(xcb_connection_t* connection, xcb_window_t window) {
    const auto reply =
        Owned(xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr));
    return reply ? reply->root : xcb_window_t{XCB_WINDOW_NONE};
}

xcb_connection_t* X11Connection() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

// The window's connection, its id and the atoms; none without X11.
struct XWindow {
    xcb_connection_t* connection = nullptr;
    xcb_window_t id = XCB_WINDOW_NONE;
    std::array<xcb_atom_t, AtomCount> atoms{};
};

std::optional<XWindow> XWindowOf(QWidget& window) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return std::nullopt;
    const auto id = static_cast<xcb_window_t>(window.winId()); // made now if it is not yet
    return XWindow{connection, id, InternAtoms(connection)};
}

// Calls the function once, the first time the window's _NET_FRAME_EXTENTS property is set from now on, as
// the event of the change comes through the window's event loop; gone with its owner.
class FrameExtentsWatch : public QObject, public QAbstractNativeEventFilter {
  public:
    FrameExtentsWatch(QObject& owner, const XWindow& x, std::function<void()> answered)
        : QObject(&owner), id_(x.id), atom_(x.atoms[ExtentsAtom]), answered_(std::move(answered)) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~FrameExtentsWatch() override { QCoreApplication::instance()->removeNativeEventFilter(this); }
    FrameExtentsWatch(const FrameExtentsWatch&) = delete;
    FrameExtentsWatch& operator=(const FrameExtentsWatch&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* /*result*/) override {
        if (answered_ == nullptr || eventType != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & ~0x80) != XCB_PROPERTY_NOTIFY) return false;
        const auto* change = static_cast<const xcb_property_notify_event_t*>(message);
        if (change->window != id_ || change->atom != atom_ || change->state != XCB_PROPERTY_NEW_VALUE)
            return false;
        // Once Qt has taken the event too, so that the window's own idea of its frame is up to date.
        QMetaObject::invokeMethod(this, std::exchange(answered_, nullptr), Qt::QueuedConnection);
        deleteLater();
        return false;
    }

  private:
    xcb_window_t id_;
    xcb_atom_t atom_;
    std::function<void()> answered_;
};

} // namespace

bool RequestFrameExtents(QWidget& window) {
    const std::optional<XWindow> x = XWindowOf(window);
    if (!x) return false;
    const xcb_window_t root = RootOf(x->connection, x->id);
    if (root == XCB_WINDOW_NONE ||
        !Supports(x->connection, root, x->atoms[SupportedAtom], x->atoms[RequestAtom]))
        return false;
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = x->id;
    request.type = x->atoms[RequestAtom];
    xcb_send_event(x->connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&request));
    xcb_flush(x->connection);
    return true;
}

std::optional<QMargins> FrameExtentsSaid(QWidget& window) {
    const std::optional<XWindow> x = XWindowOf(window);
    if (!x) return std::nullopt;
    return ReadExtents(x->connection, x->id, x->atoms[ExtentsAtom]);
}

void WhenFrameExtentsSaid(QWidget& window, QObject& owner, std::function<void()> answered) {
    if (const std::optional<XWindow> x = XWindowOf(window))
        new FrameExtentsWatch(owner, *x, std::move(answered));
}

} // namespace nagisora
