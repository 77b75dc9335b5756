#include "eventfilter.h"
#include "hookcheck.h"
#include "messagethrottle.h"

#include <QDebug>

#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <wayland-server.h>

namespace {

// libwayland's limit of arguments per message (WL_CLOSURE_MAX_ARGS).
constexpr int maxArguments = 20;

template<typename Function> Function next(const char *name)
{
    auto *function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
    if (!function)
        qFatal("Cannot find libwayland-server's %s", name);
    return function;
}

// A message's signature begins with the version that introduced it, when that is not 1.
int since(const wl_message &message)
{
    return std::atoi(message.signature) > 1 ? std::atoi(message.signature) : 1;
}

// False for an event the object's version does not have, or one its interface does not know.
bool deliverable(wl_resource *resource, uint32_t opcode)
{
    const wl_interface *interface = resource ? resource->object.interface : nullptr;
    const bool known = interface && opcode < uint32_t(interface->event_count);
    const int version = resource ? wl_resource_get_version(resource) : 0;
    if (known
        && (since(interface->events[opcode]) <= 1 || since(interface->events[opcode]) <= version))
        return true;
    // Debug level: the fault is Qt's, and every old client of Qt 6.8 meets it.
    static Vorlane::MessageThrottle throttle;
    if (throttle.allow()) {
        pid_t pid = 0;
        if (resource)
            wl_client_get_credentials(wl_resource_get_client(resource), &pid, nullptr, nullptr);
        const int suppressed = throttle.takeSuppressed();
        qDebug().noquote()
            << QStringLiteral("Not sending %1.%2 (version %3) to client %4, which bound version "
                              "%5%6")
                   .arg(QLatin1String(interface ? interface->name : "?"),
                        QLatin1String(known ? interface->events[opcode].name : "?"))
                   .arg(known ? since(interface->events[opcode]) : 0)
                   .arg(pid)
                   .arg(version)
                   .arg(suppressed > 0
                            ? QStringLiteral(" (%1 similar messages suppressed)").arg(suppressed)
                            : QString());
    }
    return false;
}

// As libwayland reads the arguments of wl_resource_post_event.
void readArguments(const char *signature, wl_argument *arguments, va_list list)
{
    int count = 0;
    for (const char *type = signature; *type && count < maxArguments; ++type) {
        switch (*type) {
        case 'i':
        case 'h':
            arguments[count++].i = va_arg(list, int32_t);
            break;
        case 'u':
            arguments[count++].u = va_arg(list, uint32_t);
            break;
        case 'f':
            arguments[count++].f = va_arg(list, wl_fixed_t);
            break;
        case 's':
            arguments[count++].s = va_arg(list, const char *);
            break;
        case 'o':
        case 'n':
            arguments[count++].o = va_arg(list, wl_object *);
            break;
        case 'a':
            arguments[count++].a = va_arg(list, wl_array *);
            break;
        default: // the version and '?' for a nullable argument
            break;
        }
    }
}

using SendArray = void (*)(wl_resource *, uint32_t, wl_argument *);

// The variadic senders: the event's arguments read into an array for the array sender.
void sendList(SendArray send, wl_resource *resource, uint32_t opcode, va_list list)
{
    if (!deliverable(resource, opcode))
        return;
    wl_argument arguments[maxArguments];
    readArguments(resource->object.interface->events[opcode].signature, arguments, list);
    send(resource, opcode, arguments);
}

} // namespace

extern "C" {

Q_DECL_EXPORT void wl_resource_post_event_array(wl_resource *resource, uint32_t opcode,
                                                wl_argument *arguments)
{
    static const auto real = next<SendArray>("wl_resource_post_event_array");
    if (deliverable(resource, opcode))
        real(resource, opcode, arguments);
}

Q_DECL_EXPORT void wl_resource_queue_event_array(wl_resource *resource, uint32_t opcode,
                                                 wl_argument *arguments)
{
    static const auto real = next<SendArray>("wl_resource_queue_event_array");
    if (deliverable(resource, opcode))
        real(resource, opcode, arguments);
}

Q_DECL_EXPORT void wl_resource_post_event(wl_resource *resource, uint32_t opcode, ...)
{
    static const auto real = next<SendArray>("wl_resource_post_event_array");
    va_list list;
    va_start(list, opcode);
    sendList(real, resource, opcode, list);
    va_end(list);
}

Q_DECL_EXPORT void wl_resource_queue_event(wl_resource *resource, uint32_t opcode, ...)
{
    static const auto real = next<SendArray>("wl_resource_queue_event_array");
    va_list list;
    va_start(list, opcode);
    sendList(real, resource, opcode, list);
    va_end(list);
}

} // extern "C"

namespace Vorlane::EventFilter {

bool inEffect()
{
    using HookCheck::Binding;
    bool sent = false;
    for (const char *function :
         { "wl_resource_post_event", "wl_resource_queue_event", "wl_resource_post_event_array",
           "wl_resource_queue_event_array" }) {
        const Binding binding = HookCheck::qtBinding(function);
        if (binding == Binding::Elsewhere)
            return false;
        sent = sent || binding == Binding::Ours;
    }
    return sent;
}

} // namespace Vorlane::EventFilter
