#ifndef VORLANE_WAYLANDSOCKET_H
#define VORLANE_WAYLANDSOCKET_H

#include <string>

namespace Vorlane {

// The listening Wayland socket, opened before anything else so that clients can connect (and
// wait in the backlog) while the scene is still being built. Either the socket that systemd
// hands over (LISTEN_FDS) or the first free "wayland-N" in XDG_RUNTIME_DIR, guarded by a lock
// file as libwayland does, so that other compositors and clients agree on the names. Opened by
// the program's small launcher before Qt is loaded, so it uses the C++ library only.
class WaylandSocket
{
public:
    WaylandSocket() = default;
    ~WaylandSocket();

    WaylandSocket(const WaylandSocket &) = delete;
    WaylandSocket &operator=(const WaylandSocket &) = delete;

    // False when no socket could be had; the reason has been written to the log.
    bool open();

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    // What clients put in WAYLAND_DISPLAY: "wayland-0", or the whole path of a handed-over
    // socket that lies outside XDG_RUNTIME_DIR.
    const std::string &name() const { return m_name; }
    bool isActivated() const { return m_activated; }

private:
    bool adoptActivated();
    bool bindFree();

    int m_fd = -1;
    int m_lockFd = -1;
    std::string m_name;
    std::string m_path;
    std::string m_lockPath;
    bool m_activated = false;
};

} // namespace Vorlane

#endif // VORLANE_WAYLANDSOCKET_H
