#pragma once

// A Wayland client with one full-screen window on every output, reporting the
// pointer and keyboard input its windows receive in global logical
// coordinates. The Wayland observer and the Wayland benchmarks are built on it.

#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/wayland_client.h"

struct xdg_wm_base;
struct xdg_surface;
struct xdg_toplevel;
struct zwlr_virtual_pointer_v1;

namespace inputfeed::observe {

// What the windows receive. Positions are global: the window's output origin
// plus the position on the window.
class InputSink {
public:
    virtual ~InputSink() = default;
    virtual void pointerAt(double x, double y) = 0;  // entered or moved
    virtual void button(std::uint32_t button, bool down, double x, double y) = 0;
    // `keysym` is what the key types with the modifiers in effect.
    virtual void key(std::uint32_t key, bool down, xkb_keysym_t keysym) = 0;
    // The modifiers in effect changed; their names, or "none".
    virtual void modifiers(const char* names) = 0;
    virtual void keymap(const char* layoutName) = 0;
};

class Windows {
public:
    struct Options {
        const char* layout = nullptr;  // XKB layout of the stand-in keyboard, or a keymap file
        const double* home = nullptr;  // (x, y) to move the pointer to first, unreported
        bool windows = true;           // false: only the stand-ins, deaf to input
        unsigned switches = 0;         // of the seat's current keyboard, after the stand-ins
    };

    // Connects, shows the windows and waits until one has the keyboard focus.
    // Where the seat has no pointer or keyboard, or a layout is given, it first
    // holds stand-ins for them (see standIn). Returns null after a message on
    // standard error.
    static std::unique_ptr<Windows> open(InputSink& sink, const Options& options);
    ~Windows();
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;

    int fd() const { return client_->fd(); }
    // Reads what has arrived and reports it.
    // Takes in what came, then sends what that asked for (a pong above all: a window that does
    // not answer Mutter's ping loses the pointer).
    void dispatch() {
        client_->dispatch();
        wl_display_flush(client_->display());
    }
    // Moves the pointer with the stand-in (or fake input) device, at once.
    void send(double x, double y);
    // Waits until the compositor has sent everything that happened before.
    void roundtrip() { client_->roundtrip(); }

    struct Window;

private:
    explicit Windows(InputSink& sink);
    bool start(const Options& options);
    bool standIn(const Options& options);
    bool moveTo(double x, double y);
    bool pointerIsAt(double x, double y) const;
    const Window* windowOf(wl_surface* surface) const;

    static void global(void*, wl_registry*, std::uint32_t, const char*, std::uint32_t);

    friend struct Listeners;
    InputSink& sink_;
    std::unique_ptr<wayland::Client> client_;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    wl_pointer* pointer_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    xdg_wm_base* wmBase_ = nullptr;
    zwp_virtual_keyboard_v1* standInKeyboard_ = nullptr;
    zwlr_virtual_pointer_v1* standInPointer_ = nullptr;
    std::vector<std::unique_ptr<Window>> windows_;

    const Window* pointerWindow_ = nullptr;
    double pointerX_ = 0, pointerY_ = 0;  // on pointerWindow_
    bool focused_ = false;
    bool listening_ = true;
    std::uint32_t modifiers_ = 0;
    xkb_context* xkb_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
};

}  // namespace inputfeed::observe
