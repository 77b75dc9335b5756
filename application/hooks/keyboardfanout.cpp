#include "keyboardfanout.h"

#include <QCoreApplication>
#include <QHash>
#include <QList>

#include <algorithm>
#include <cstring>
#include <utility>
#include <wayland-server.h>

namespace Vorlane::KeyboardFanout {
namespace {

constexpr uint32_t KEYMAP = 0;
constexpr uint32_t ENTER = 1;
constexpr uint32_t LEAVE = 2;
constexpr uint32_t KEY = 3;
constexpr uint32_t MODIFIERS = 4;

struct Keyboard
{
    wl_listener destroyed;
    wl_client *client = nullptr;
    wl_resource *entered = nullptr; // the surface this keyboard was told it has the focus on
};

wl_display *display = nullptr;
// Every wl_keyboard of every client; Qt sends each one its keymap when it is created.
QHash<wl_resource *, Keyboard *> keyboards;
QHash<wl_resource *, wl_listener *> surfaceWatches;
// The keyboard that Qt itself sent the focus to; the others only follow it.
wl_resource *qtFocus = nullptr;
// Set while this file posts events of its own, which its logger then leaves alone.
bool posting = false;

void post(wl_resource *keyboard, uint32_t opcode, wl_argument *arguments)
{
    posting = true;
    wl_resource_post_event_array(keyboard, opcode, arguments);
    posting = false;
}

void leave(wl_resource *resource, Keyboard *keyboard)
{
    wl_argument arguments[2];
    arguments[0].u = wl_display_next_serial(display);
    arguments[1].o = reinterpret_cast<wl_object *>(keyboard->entered);
    post(resource, LEAVE, arguments);
    keyboard->entered = nullptr;
}

void keyboardDestroyed(wl_listener *listener, void *data)
{
    auto *resource = static_cast<wl_resource *>(data);
    wl_list_remove(&listener->link);
    Keyboard *keyboard = keyboards.take(resource);
    // Qt now sends no keys to the client, and enters a remaining keyboard on its next focus
    // without a leave: the others leave now.
    if (resource == qtFocus) {
        qtFocus = nullptr;
        for (auto it = keyboards.cbegin(); it != keyboards.cend(); ++it) {
            if (it.value()->entered && it.value()->client == keyboard->client)
                leave(it.key(), it.value());
        }
    }
    delete keyboard;
}

void surfaceDestroyed(wl_listener *listener, void *data)
{
    auto *surface = static_cast<wl_resource *>(data);
    for (Keyboard *keyboard : std::as_const(keyboards)) {
        if (keyboard->entered == surface)
            keyboard->entered = nullptr;
    }
    surfaceWatches.remove(surface);
    wl_list_remove(&listener->link);
    delete listener;
}

void enter(Keyboard *keyboard, wl_resource *surface)
{
    keyboard->entered = surface;
    if (surfaceWatches.contains(surface))
        return;
    auto *listener = new wl_listener;
    listener->notify = surfaceDestroyed;
    wl_resource_add_destroy_listener(surface, listener);
    surfaceWatches.insert(surface, listener);
}

void onEvent(void *, wl_protocol_logger_type direction, const wl_protocol_logger_message *message)
{
    if (direction != WL_PROTOCOL_LOGGER_EVENT || posting
        || std::strcmp(wl_resource_get_class(message->resource), wl_keyboard_interface.name) != 0)
        return;
    wl_resource *resource = message->resource;
    const uint32_t opcode = message->message_opcode;
    Keyboard *keyboard = keyboards.value(resource);
    if (!keyboard) {
        keyboard = new Keyboard;
        keyboard->client = wl_resource_get_client(resource);
        keyboard->destroyed.notify = keyboardDestroyed;
        wl_resource_add_destroy_listener(resource, &keyboard->destroyed);
        keyboards.insert(resource, keyboard);
    }
    if (opcode == KEYMAP || opcode > MODIFIERS || message->arguments_count > 5)
        return;

    wl_argument arguments[5];
    std::copy(message->arguments, message->arguments + message->arguments_count, arguments);
    wl_resource *surface = opcode == ENTER || opcode == LEAVE
        ? reinterpret_cast<wl_resource *>(arguments[1].o)
        : nullptr;
    // Libwayland logs an event once it is queued: what is posted here follows it.
    if (opcode == ENTER) {
        enter(keyboard, surface);
        qtFocus = resource;
    } else if (opcode == LEAVE) {
        keyboard->entered = nullptr;
        qtFocus = nullptr;
    }

    const QList<wl_resource *> all = keyboards.keys();
    for (wl_resource *other : all) {
        Keyboard *sibling = keyboards.value(other);
        if (other == resource || sibling->client != keyboard->client)
            continue;
        if (opcode == ENTER) {
            if (sibling->entered == surface)
                continue;
            if (sibling->entered)
                leave(other, sibling);
            enter(sibling, surface);
        } else if (opcode == LEAVE) {
            if (sibling->entered != surface)
                continue;
            sibling->entered = nullptr;
        } else if (opcode == KEY) {
            if (!sibling->entered)
                continue;
        }
        post(other, opcode, arguments);
    }
}

} // namespace

void install(wl_display *waylandDisplay)
{
    if (!waylandDisplay)
        return;
    display = waylandDisplay;
    wl_protocol_logger *logger = wl_display_add_protocol_logger(display, onEvent, nullptr);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp,
                     [logger] { wl_protocol_logger_destroy(logger); });
}

} // namespace Vorlane::KeyboardFanout
