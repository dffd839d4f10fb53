#include "frame_extents.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <xcb/xcb.h>

namespace nagisora {
namespace {

constexpr auto AnswerWait = std::chrono::milliseconds(200);
constexpr auto PollInterval = std::chrono::microseconds(500);

// A reply of xcb, freed with its owner.
template <class Reply>
using ReplyHandle = std::unique_ptr<Reply, decltype(&std::free)>;

template <class Reply>
ReplyHandle<Reply> Owned(Reply* reply) {
    return ReplyHandle<Reply>(reply, &std::free);
}

enum Atom { Supported, RequestFrameExtents, FrameExtents, AtomCount };

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

} // namespace

QMargins FrameExtentsBeforeShow(QWidget& window) {
    xcb_connection_t* connection = X11Connection();
    if (connection == nullptr) return {};
    const auto id = static_cast<xcb_window_t>(window.winId()); // the window as the server has it, unmapped
    const xcb_window_t root = RootOf(connection, id);
    const std::array<xcb_atom_t, AtomCount> atoms = InternAtoms(connection);
    if (root == XCB_WINDOW_NONE || !Supports(connection, root, atoms[Supported], atoms[RequestFrameExtents]))
        return {};

    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = id;
    request.type = atoms[RequestFrameExtents];
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&request));
    xcb_flush(connection);
    // The window manager answers by setting the property; each look is one round trip to the server.
    const auto deadline = std::chrono::steady_clock::now() + AnswerWait;
    do {
        if (const std::optional<QMargins> extents = ReadExtents(connection, id, atoms[FrameExtents]))
            return *extents;
        std::this_thread::sleep_for(PollInterval);
    } while (std::chrono::steady_clock::now() < deadline);
    return {};
}

} // namespace nagisora
