#include "wayland_windows.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace inputfeed::observe {

struct Windows::Window {
    Windows* owner = nullptr;
    const wayland::Output* output = nullptr;
    wl_surface* surface = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wl_buffer* buffer = nullptr;
    std::int32_t width = 0, height = 0;  // asked for by the compositor
    std::int32_t bufferWidth = 0, bufferHeight = 0;
    bool shown = false;
};

namespace {

[[noreturn]] void die(const char* message) {
    std::fprintf(stderr, "inputfeed-observe-wayland: %s\n", message);
    std::exit(2);
}

// A plain dark buffer: the windows only need to be there.
wl_buffer* makeBuffer(wl_shm* shm, std::int32_t width, std::int32_t height) {
    const auto stride = width * 4;
    const auto size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    const int fd = memfd_create("inputfeed-observe", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) die("cannot create shared memory");
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) die("cannot map shared memory");
    std::fill_n(static_cast<std::uint32_t*>(pixels), size / 4, 0xff202830u);
    munmap(pixels, size);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(size));
    wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

}  // namespace

// Every listener of the client, in one place.
struct Listeners {
    static void wmPing(void*, xdg_wm_base* base, std::uint32_t serial) {
        xdg_wm_base_pong(base, serial);
    }

    static void surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial) {
        auto* window = static_cast<Windows::Window*>(data);
        xdg_surface_ack_configure(surface, serial);
        const auto& box = window->output->box;
        const auto width = window->width > 0 ? window->width : static_cast<std::int32_t>(box.width);
        const auto height =
            window->height > 0 ? window->height : static_cast<std::int32_t>(box.height);
        if (!window->buffer || width != window->bufferWidth || height != window->bufferHeight) {
            if (window->buffer) wl_buffer_destroy(window->buffer);
            window->buffer = makeBuffer(window->owner->shm_, width, height);
            window->bufferWidth = width;
            window->bufferHeight = height;
        }
        wl_surface_attach(window->surface, window->buffer, 0, 0);
        wl_surface_damage(window->surface, 0, 0, width, height);
        wl_surface_commit(window->surface);
        window->shown = true;
    }

    static void toplevelConfigure(void* data, xdg_toplevel*, std::int32_t width,
                                  std::int32_t height, wl_array*) {
        auto* window = static_cast<Windows::Window*>(data);
        window->width = width;
        window->height = height;
    }
    static void toplevelClose(void*, xdg_toplevel*) {}
    static void toplevelBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
    static void toplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}

    static void seatCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
        auto* self = static_cast<Windows*>(data);
        if (!self->listening_) return;
        // A seat whose last pointer or keyboard goes (Mutter's, as remote-desktop sessions
        // end) hands out new ones when devices come back.
        if (!(capabilities & WL_SEAT_CAPABILITY_POINTER) && self->pointer_) {
            wl_pointer_destroy(self->pointer_);
            self->pointer_ = nullptr;
            self->pointerWindow_ = nullptr;
        }
        if (!(capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && self->keyboard_) {
            wl_keyboard_destroy(self->keyboard_);
            self->keyboard_ = nullptr;
        }
        if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && !self->pointer_) {
            static const wl_pointer_listener listener{
                pointerEnter,        pointerLeave,       pointerMotion,     pointerButton,
                pointerAxis,         pointerFrame,       pointerAxisSource, pointerAxisStop,
                pointerAxisDiscrete, pointerAxisValue120};
            self->pointer_ = wl_seat_get_pointer(seat);
            wl_pointer_add_listener(self->pointer_, &listener, self);
        }
        if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !self->keyboard_) {
            static const wl_keyboard_listener listener{keymap, keyEnter,  keyLeave,
                                                       key,    modifiers, repeatInfo};
            self->keyboard_ = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(self->keyboard_, &listener, self);
        }
    }

    static void report(Windows* self, wl_fixed_t sx, wl_fixed_t sy) {
        self->pointerX_ = wl_fixed_to_double(sx);
        self->pointerY_ = wl_fixed_to_double(sy);
        if (!self->pointerWindow_) return;
        const auto& box = self->pointerWindow_->output->box;
        self->sink_.pointerAt(static_cast<double>(box.x) + self->pointerX_,
                              static_cast<double>(box.y) + self->pointerY_);
    }
    static void pointerEnter(void* data, wl_pointer*, std::uint32_t, wl_surface* surface,
                             wl_fixed_t sx, wl_fixed_t sy) {
        auto* self = static_cast<Windows*>(data);
        self->pointerWindow_ = self->windowOf(surface);
        report(self, sx, sy);
    }
    static void pointerLeave(void* data, wl_pointer*, std::uint32_t, wl_surface*) {
        static_cast<Windows*>(data)->pointerWindow_ = nullptr;
    }
    static void pointerMotion(void* data, wl_pointer*, std::uint32_t, wl_fixed_t sx,
                              wl_fixed_t sy) {
        report(static_cast<Windows*>(data), sx, sy);
    }
    static void pointerButton(void* data, wl_pointer*, std::uint32_t, std::uint32_t,
                              std::uint32_t button, std::uint32_t state) {
        auto* self = static_cast<Windows*>(data);
        if (!self->pointerWindow_) return;
        const auto& box = self->pointerWindow_->output->box;
        self->sink_.button(button, state == WL_POINTER_BUTTON_STATE_PRESSED,
                           static_cast<double>(box.x) + self->pointerX_,
                           static_cast<double>(box.y) + self->pointerY_);
    }
    static void pointerAxis(void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {}
    static void pointerFrame(void*, wl_pointer*) {}
    static void pointerAxisSource(void*, wl_pointer*, std::uint32_t) {}
    static void pointerAxisStop(void*, wl_pointer*, std::uint32_t, std::uint32_t) {}
    static void pointerAxisDiscrete(void*, wl_pointer*, std::uint32_t, std::int32_t) {}
    static void pointerAxisValue120(void*, wl_pointer*, std::uint32_t, std::int32_t) {}

    static void keymap(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
        auto* self = static_cast<Windows*>(data);
        const std::string text = wayland::receiveKeymap(format, fd, size);
        xkb_keymap* keymap =
            xkb_keymap_new_from_buffer(self->xkb_, text.data(), text.size(),
                                       XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap) return;
        const char* before = self->keymap_ ? xkb_keymap_layout_get_name(self->keymap_, 0) : "";
        const std::string old = before ? before : "";
        xkb_state_unref(self->state_);
        xkb_keymap_unref(self->keymap_);
        self->keymap_ = keymap;
        self->state_ = xkb_state_new(keymap);
        const char* name = xkb_keymap_layout_get_name(keymap, 0);
        if (old != (name ? name : "")) self->sink_.keymap(name ? name : "");
    }
    static void keyEnter(void* data, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {
        static_cast<Windows*>(data)->focused_ = true;
    }
    static void keyLeave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
        static_cast<Windows*>(data)->focused_ = false;
    }
    static void key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
                    std::uint32_t state) {
        auto* self = static_cast<Windows*>(data);
        // What the key types with the modifiers in effect, as a client reads it.
        const xkb_keysym_t keysym =
            self->state_ ? xkb_state_key_get_one_sym(self->state_, key + 8) : XKB_KEY_NoSymbol;
        self->sink_.key(key, state == WL_KEYBOARD_KEY_STATE_PRESSED, keysym);
    }
    static void modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                          std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
        auto* self = static_cast<Windows*>(data);
        if (!self->state_) return;
        xkb_state_update_mask(self->state_, depressed, latched, locked, 0, 0, group);
        const std::uint32_t mask = depressed | latched | locked;
        if (mask == self->modifiers_) return;
        self->modifiers_ = mask;
        std::string names;
        for (xkb_mod_index_t i = 0; i < xkb_keymap_num_mods(self->keymap_) && i < 32; ++i) {
            if (!(mask & (1u << i))) continue;
            if (!names.empty()) names += ' ';
            names += xkb_keymap_mod_get_name(self->keymap_, i);
        }
        self->sink_.modifiers(names.empty() ? "none" : names.c_str());
    }
    static void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
};

Windows::Windows(InputSink& sink) : sink_(sink), xkb_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

Windows::~Windows() {
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(xkb_);
    if (!client_) return;
    // The compositor drops everything with the connection; the proxies are ours.
    for (const auto& window : windows_) {
        xdg_toplevel_destroy(window->toplevel);
        xdg_surface_destroy(window->xdgSurface);
        wl_surface_destroy(window->surface);
        if (window->buffer) wl_buffer_destroy(window->buffer);
    }
    const auto destroy = [](auto* proxy) {
        if (proxy) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(proxy));
    };
    destroy(standInKeyboard_);
    destroy(standInPointer_);
    destroy(pointer_);
    destroy(keyboard_);
    destroy(wmBase_);
    destroy(shm_);
    destroy(compositor_);
}

std::unique_ptr<Windows> Windows::open(InputSink& sink, const Options& options) {
    std::unique_ptr<Windows> windows(new Windows(sink));
    if (!windows->start(options)) return nullptr;
    if (options.home && !windows->moveTo(options.home[0], options.home[1])) return nullptr;
    return windows;
}

// Moves the stand-in pointer, unreported, and waits until a window has it there.
bool Windows::moveTo(double x, double y) {
    for (int i = 0; i < 500; ++i) {
        // Again now and then: Mutter reports no move under a window not yet in place.
        if (i % 50 == 0) send(x, y);
        if (pointerIsAt(x, y)) {
            // Moves sent through the stand-in agent may still be on their way, to be reported
            // later: wait until nothing has come for 0.1 s, then look again.
            if (!std::getenv("INPUTFEED_STAND_IN")) return true;
            for (int quiet = 0; quiet < 10;) {
                pollfd ready{fd(), POLLIN, 0};
                quiet = poll(&ready, 1, 10) == 0 ? quiet + 1 : 0;
                dispatch();
            }
            if (pointerIsAt(x, y)) return true;
        }
        pollfd ready{fd(), POLLIN, 0};
        poll(&ready, 1, 10);
        dispatch();
    }
    die("the pointer did not arrive where it was sent within 5 seconds");
}

bool Windows::pointerIsAt(double x, double y) const {
    return pointerWindow_ && static_cast<double>(pointerWindow_->output->box.x) + pointerX_ == x &&
           static_cast<double>(pointerWindow_->output->box.y) + pointerY_ == y;
}

void Windows::send(double x, double y) {
    const wayland::Box& box = client_->layout();
    if (client_->fakeInput()) {
        org_kde_kwin_fake_input_pointer_motion_absolute(
            client_->fakeInput(), wl_fixed_from_double(x), wl_fixed_from_double(y));
    } else if (standInPointer_) {
        zwlr_virtual_pointer_v1_motion_absolute(
            standInPointer_, 0, static_cast<std::uint32_t>(x - static_cast<double>(box.x)),
            static_cast<std::uint32_t>(y - static_cast<double>(box.y)),
            static_cast<std::uint32_t>(box.width), static_cast<std::uint32_t>(box.height));
        zwlr_virtual_pointer_v1_frame(standInPointer_);
    } else if (const char* standIn = std::getenv("INPUTFEED_STAND_IN")) {
        // Mutter offers clients no pointer: an agent of the test's own session moves it, by
        // way of a neighbouring pixel, so that it moves even when it is already there.
        const int pipe = ::open(standIn, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        FILE* agent = pipe >= 0 ? fdopen(pipe, "w") : nullptr;
        if (!agent) die("the stand-in agent of INPUTFEED_STAND_IN is not there");
        std::fprintf(agent,
                     "{\"type\":\"pointerMove\",\"x\":%.17g,\"y\":%.17g}\n"
                     "{\"type\":\"pointerMove\",\"x\":%.17g,\"y\":%.17g}\n",
                     x + 1, y, x, y);
        std::fclose(agent);
    } else {
        die("cannot move the pointer: the compositor offers no virtual pointer");
    }
    // Sent without taking anything in: an old position taken in now would pass for this one.
    wl_display_flush(client_->display());
}

// The globals only the windows need.
void Windows::global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
    auto* self = static_cast<Windows*>(data);
    const auto bind = [&](const wl_interface& wanted, std::uint32_t highest) {
        return std::strcmp(interface, wanted.name) != 0
                   ? nullptr
                   : wl_registry_bind(registry, name, &wanted, std::min(version, highest));
    };
    if (void* compositor = bind(wl_compositor_interface, 4)) {
        self->compositor_ = static_cast<wl_compositor*>(compositor);
    } else if (void* shm = bind(wl_shm_interface, 1)) {
        self->shm_ = static_cast<wl_shm*>(shm);
    } else if (void* wmBase = bind(xdg_wm_base_interface, 1)) {
        static const xdg_wm_base_listener listener{Listeners::wmPing};
        self->wmBase_ = static_cast<xdg_wm_base*>(wmBase);
        xdg_wm_base_add_listener(self->wmBase_, &listener, self);
    }
}

bool Windows::start(const Options& options) {
    listening_ = options.windows;
    client_ = wayland::Client::open("inputfeed-observe-wayland", 2,
                                    {this, global, Listeners::seatCapabilities});
    if (!client_) std::exit(2);
    if (!compositor_ || !shm_ || !wmBase_ || !client_->outputManager() || !client_->seat()) {
        die("the compositor lacks wl_compositor, wl_shm, xdg_wm_base, xdg-output or a seat");
    }
    if (!standIn(options)) return false;
    if (!options.windows) return true;

    static const xdg_surface_listener surfaceListener{Listeners::surfaceConfigure};
    static const xdg_toplevel_listener toplevelListener{
        Listeners::toplevelConfigure, Listeners::toplevelClose, Listeners::toplevelBounds,
        Listeners::toplevelCapabilities};
    for (const auto& output : client_->outputs()) {
        auto window = std::make_unique<Window>();
        window->owner = this;
        window->output = output.get();
        window->surface = wl_compositor_create_surface(compositor_);
        window->xdgSurface = xdg_wm_base_get_xdg_surface(wmBase_, window->surface);
        xdg_surface_add_listener(window->xdgSurface, &surfaceListener, window.get());
        window->toplevel = xdg_surface_get_toplevel(window->xdgSurface);
        xdg_toplevel_add_listener(window->toplevel, &toplevelListener, window.get());
        xdg_toplevel_set_title(window->toplevel, "inputfeed observer");
        xdg_toplevel_set_app_id(window->toplevel, "inputfeed-observe");
        xdg_toplevel_set_fullscreen(window->toplevel, output->output);
        wl_surface_commit(window->surface);
        windows_.push_back(std::move(window));
    }
    // Input sent before a window has the keyboard focus would be lost.
    for (int i = 0; i < 500; ++i) {
        const bool shown = std::all_of(windows_.begin(), windows_.end(),
                                       [](const auto& window) { return window->shown; });
        if (shown && focused_ && keymap_) {
            roundtrip();
            return true;
        }
        client_->flush();
        pollfd ready{fd(), POLLIN, 0};
        poll(&ready, 1, 10);
        dispatch();
    }
    die("no window got the keyboard focus within 5 seconds");
}

// Stand-ins for the user's hardware, on a seat that lacks it (a headless
// compositor's): a pointer, so that the windows get pointer focus from the
// start and miss nothing, and a keyboard with the chosen layout (US when none
// is chosen). Where KDE's fake input is offered, its device serves as both. The keyboard is made
// the seat's current one the way typing makes it, by a modifier state change: a lock toggled on and
// off, which types nothing.
bool Windows::standIn(const Options& options) {
    const char* layout = options.layout;
    const std::uint32_t capabilities = client_->seatCapabilities();
    if (client_->fakeInput()) {
        // KWin's fake input device is a pointer and a keyboard, with KWin's keymap.
        if (layout) die("--layout needs a compositor with virtual keyboards");
        org_kde_kwin_fake_input_authenticate(client_->fakeInput(), "inputfeed observer",
                                             "test stand-ins");
        roundtrip();
        return true;
    }
    if (!(capabilities & WL_SEAT_CAPABILITY_POINTER) && client_->pointerManager()) {
        standInPointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(
            client_->pointerManager(), client_->seat());
    }
    if (!layout && ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) || !client_->keyboardManager())) {
        roundtrip();
        return true;
    }
    if (!client_->keyboardManager()) die("the compositor offers no virtual keyboard for --layout");
    xkb_mod_index_t numLock = 0;
    const auto keyboard = [&](const char* from) {
        const xkb_rule_names names{"evdev", "pc105", from ? from : "us", "", ""};
        xkb_keymap* keymap = nullptr;
        if (from && std::strchr(from, '/')) {  // a keymap file
            if (FILE* file = std::fopen(from, "r")) {
                keymap = xkb_keymap_new_from_file(xkb_, file, XKB_KEYMAP_FORMAT_TEXT_V1,
                                                  XKB_KEYMAP_COMPILE_NO_FLAGS);
                std::fclose(file);
            }
        } else {
            keymap = xkb_keymap_new_from_names(xkb_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        }
        if (!keymap) die("cannot compile the keymap of that layout");
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        numLock = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_NUM);
        xkb_keymap_unref(keymap);
        auto* made = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
            client_->keyboardManager(), client_->seat());
        if (!text || !wayland::uploadKeymap(made, text)) die("cannot write the keymap");
        std::free(text);
        return made;
    };
    standInKeyboard_ = keyboard(layout);
    const std::uint32_t lock = numLock < 32 ? 1u << numLock : 1u;
    zwp_virtual_keyboard_v1_modifiers(standInKeyboard_, 0, 0, lock, 0);
    zwp_virtual_keyboard_v1_modifiers(standInKeyboard_, 0, 0, 0, 0);
    // The seat's current keyboard switching between it and a US one, as when
    // two keyboards are typed on in turn: each switch sends every client a keymap.
    zwp_virtual_keyboard_v1* other = options.switches ? keyboard("us") : nullptr;
    for (unsigned i = 0; i < options.switches; ++i) {
        zwp_virtual_keyboard_v1_modifiers(i % 2 ? other : standInKeyboard_, 0, 0,
                                          i % 4 < 2 ? lock : 0, 0);
        if (i % 16 == 15) {
            roundtrip();
            usleep(3000);
        }
    }
    if (other) zwp_virtual_keyboard_v1_destroy(other);
    roundtrip();
    return true;
}

const Windows::Window* Windows::windowOf(wl_surface* surface) const {
    for (const auto& window : windows_) {
        if (window->surface == surface) return window.get();
    }
    return nullptr;
}

}  // namespace inputfeed::observe
