#include "platform/wayland_client.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace inputfeed::wayland {
namespace {

// libwayland 1.21 keeps at most 4096 bytes of requests; when they do not fit
// and the socket is full too, it declares the connection dead. The largest
// event is a press with its move: four requests, 64 bytes. Flushing every 32
// events keeps the buffer at most half full, and the flush waits for room.
constexpr unsigned kFlushEvery = 32;

// A round trip is started every this many events, and the next one waits for
// it: the compositor is never more than two windows behind, so a flood cannot
// pile up in its own fixed buffers.
constexpr unsigned kSyncEvery = 128;

// libwayland's latest message, kept for our one line instead of printed.
char lastMessage[200];

void keepMessage(const char* format, va_list arguments) {
    std::vsnprintf(lastMessage, sizeof lastMessage, format, arguments);
    lastMessage[std::strcspn(lastMessage, "\n")] = '\0';
}

// The display libwayland connects to.
const char* displayName() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return name && *name ? name : "wayland-0";
}

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface,
        std::uint32_t offered, std::uint32_t wanted) {
    return static_cast<T*>(wl_registry_bind(registry, name, &interface, std::min(offered, wanted)));
}

void seatName(void*, wl_seat*, const char*) {}

void logicalPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
    static_cast<Output*>(data)->announced.x = x;
    static_cast<Output*>(data)->announced.y = y;
}
void logicalSize(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
    static_cast<Output*>(data)->announced.width = width;
    static_cast<Output*>(data)->announced.height = height;
}
void outputName(void*, zxdg_output_v1*, const char*) {}

void syncDone(void* data, wl_callback* callback, std::uint32_t) {
    auto** pending = static_cast<wl_callback**>(data);
    wl_callback_destroy(callback);
    if (*pending == callback) *pending = nullptr;
}

}  // namespace

std::unique_ptr<Client> Client::open(const char* program, int lostStatus, Hooks hooks) {
    wl_log_set_handler_client(keepMessage);
    const char* name = displayName();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        const bool relative = name[0] != '/';
        const char* cause = relative && (!runtime || !*runtime) ? "XDG_RUNTIME_DIR is not set"
                            : *lastMessage                      ? lastMessage
                                                                : std::strerror(errno);
        std::fprintf(stderr, "%s: cannot connect to the Wayland compositor \"%s\" (%s)\n", program,
                     name, cause);
        return nullptr;
    }
    std::unique_ptr<Client> client(new Client(display, program, lostStatus, hooks));
    // The first round trip lists the globals, the second brings the seat's
    // capabilities and the outputs' layout.
    client->roundtrip();
    client->roundtrip();
    client->newOutputs_ = false;
    return client;
}

Client::Client(wl_display* display, const char* program, int lostStatus, Hooks hooks)
    : display_(display),
      program_(program),
      lostStatus_(lostStatus),
      hooks_(hooks),
      name_(displayName()) {
    static const wl_registry_listener listener{global, globalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
}

// The compositor removes our objects with the connection; the proxies are
// ours to free.
Client::~Client() {
    for (const auto& output : outputs_) {
        if (output->xdgOutput) zxdg_output_v1_destroy(output->xdgOutput);
        wl_output_destroy(output->output);
    }
    if (pendingSync_) wl_callback_destroy(pendingSync_);
    if (outputManager_) zxdg_output_manager_v1_destroy(outputManager_);
    if (pointerManager_) zwlr_virtual_pointer_manager_v1_destroy(pointerManager_);
    if (keyboardManager_) zwp_virtual_keyboard_manager_v1_destroy(keyboardManager_);
    if (fakeInput_) org_kde_kwin_fake_input_destroy(fakeInput_);
    if (seat_) wl_seat_destroy(seat_);
    wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

void Client::roundtrip() {
    sinceFlush_ = 0;
    if (wl_display_roundtrip(display_) < 0) lost();
}

void Client::lost() const {
    std::uint32_t id = 0;
    const wl_interface* interface = nullptr;
    if (wl_display_get_error(display_) == EPROTO &&
        wl_display_get_protocol_error(display_, &interface, &id) != 0 && interface) {
        std::snprintf(lastMessage, sizeof lastMessage, "protocol error on %s", interface->name);
    }
    std::fprintf(stderr, "%s: lost the connection to the Wayland compositor on \"%s\"%s%s%s\n",
                 program_, name_, *lastMessage ? " (" : "", lastMessage, *lastMessage ? ")" : "");
    std::_Exit(lostStatus_);
}

void Client::eventStarting() {
    if (sinceFlush_ != 0) return;
    dispatch();
    // Where a new output lies takes a round trip to learn; outputs come and go
    // rarely enough to wait for it.
    if (newOutputs_) {
        newOutputs_ = false;
        roundtrip();
    }
}

void Client::eventSent() {
    if (++sinceFlush_ >= kFlushEvery) flush();
    if (++sinceSync_ < kSyncEvery) return;
    sinceSync_ = 0;
    while (pendingSync_) {
        flush();
        if (pendingSync_) waitSocket(POLLIN);
    }
    static const wl_callback_listener listener{syncDone};
    pendingSync_ = wl_display_sync(display_);
    wl_callback_add_listener(pendingSync_, &listener, &pendingSync_);
}

void Client::flush() {
    sinceFlush_ = 0;
    for (;;) {
        dispatch();
        if (wl_display_flush(display_) >= 0) return;
        // A full socket is no failure: wait until the compositor has read.
        if (errno != EAGAIN) lost();
        waitSocket(POLLOUT);
    }
}

// One read stops where a message carrying file descriptors (a keymap) begins,
// so it reads until nothing is left.
void Client::dispatch() {
    for (;;) {
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) lost();
        }
        pollfd ready{fd(), POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0) {
            wl_display_cancel_read(display_);
            break;
        }
        if (wl_display_read_events(display_) < 0) lost();
    }
    if (wl_display_dispatch_pending(display_) < 0) lost();
}

// Waits until the socket is ready for `events` or has something to read.
void Client::waitSocket(short events) {
    pollfd ready{fd(), static_cast<short>(events | POLLIN), 0};
    while (::poll(&ready, 1, -1) < 0) {
        if (errno != EINTR) lost();
    }
    dispatch();
}

void Client::global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                    std::uint32_t version) {
    auto* self = static_cast<Client*>(data);
    const auto is = [interface](const wl_interface& wanted) {
        return std::strcmp(interface, wanted.name) == 0;
    };
    if (is(wl_seat_interface)) {
        if (self->seat_) return;  // the first seat is the default one
        static const wl_seat_listener listener{capabilities, seatName};
        self->seat_ = bind<wl_seat>(registry, name, wl_seat_interface, version, 5);
        wl_seat_add_listener(self->seat_, &listener, self);
    } else if (is(wl_output_interface)) {
        auto output = std::make_unique<Output>();
        output->owner = self;
        output->name = name;
        output->output = bind<wl_output>(registry, name, wl_output_interface, version, 3);
        self->watch(*output);
        self->outputs_.push_back(std::move(output));
        self->newOutputs_ = true;
    } else if (is(zxdg_output_manager_v1_interface)) {
        // Version 2 still ends each change with its own done event.
        self->outputManager_ = bind<zxdg_output_manager_v1>(
            registry, name, zxdg_output_manager_v1_interface, version, 2);
        for (const auto& output : self->outputs_) self->watch(*output);
    } else if (is(zwlr_virtual_pointer_manager_v1_interface)) {
        self->pointerManager_ = bind<zwlr_virtual_pointer_manager_v1>(
            registry, name, zwlr_virtual_pointer_manager_v1_interface, version, 1);
    } else if (is(zwp_virtual_keyboard_manager_v1_interface)) {
        self->keyboardManager_ = bind<zwp_virtual_keyboard_manager_v1>(
            registry, name, zwp_virtual_keyboard_manager_v1_interface, version, 1);
    } else if (is(org_kde_kwin_fake_input_interface) && version >= 4) {
        // Version 4 brings keys; 3 absolute motion.
        self->fakeInput_ = bind<org_kde_kwin_fake_input>(
            registry, name, org_kde_kwin_fake_input_interface, version, 4);
    } else if (self->hooks_.global) {
        self->hooks_.global(self->hooks_.data, registry, name, interface, version);
    }
}

void Client::globalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto* self = static_cast<Client*>(data);
    const auto it = std::find_if(self->outputs_.begin(), self->outputs_.end(),
                                 [name](const auto& output) { return output->name == name; });
    if (it == self->outputs_.end()) return;
    if ((*it)->xdgOutput) zxdg_output_v1_destroy((*it)->xdgOutput);
    if (wl_output_get_version((*it)->output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release((*it)->output);
    } else {
        wl_output_destroy((*it)->output);
    }
    self->outputs_.erase(it);
    self->relayout();
}

void Client::capabilities(void* data, wl_seat* seat, std::uint32_t capabilities) {
    auto* self = static_cast<Client*>(data);
    self->capabilities_ = capabilities;
    if (self->hooks_.seat) self->hooks_.seat(self->hooks_.data, seat, capabilities);
}

void Client::watch(Output& output) {
    if (!outputManager_ || output.xdgOutput) return;
    // Changes are atomic: they apply together at done.
    static const zxdg_output_v1_listener listener{logicalPosition, logicalSize,
                                                  [](void* data, zxdg_output_v1*) {
                                                      auto* done = static_cast<Output*>(data);
                                                      done->box = done->announced;
                                                      done->owner->relayout();
                                                  },
                                                  outputName, outputName};
    output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(outputManager_, output.output);
    zxdg_output_v1_add_listener(output.xdgOutput, &listener, &output);
}

void Client::relayout() {
    Box layout;
    for (const auto& output : outputs_) {
        const Box& box = output->box;
        if (box.empty()) continue;
        if (layout.empty()) {
            layout = box;
            continue;
        }
        const std::int64_t right = std::max(layout.x + layout.width, box.x + box.width);
        const std::int64_t bottom = std::max(layout.y + layout.height, box.y + box.height);
        layout.x = std::min(layout.x, box.x);
        layout.y = std::min(layout.y, box.y);
        layout.width = right - layout.x;
        layout.height = bottom - layout.y;
    }
    layout_ = layout;
}

bool uploadKeymap(zwp_virtual_keyboard_v1* keyboard, std::string_view text) {
    const int fd = memfd_create("inputfeed-keymap", MFD_CLOEXEC);
    if (fd < 0) return false;
    // The size counts a terminating NUL, as compositors send keymaps.
    const std::size_t size = text.size() + 1;
    bool written = ftruncate(fd, static_cast<off_t>(size)) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        written = n > 0;
        done += written ? static_cast<std::size_t>(n) : 0;
    }
    if (written) {
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                       static_cast<std::uint32_t>(size));
    }
    ::close(fd);  // the request carries a duplicate
    return written;
}

std::string receiveKeymap(std::uint32_t format, int fd, std::uint32_t size) {
    std::string text;
    void* mapped = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0
                       ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                       : MAP_FAILED;
    ::close(fd);
    if (mapped == MAP_FAILED) return text;
    text.assign(static_cast<const char*>(mapped), strnlen(static_cast<const char*>(mapped), size));
    munmap(mapped, size);
    return text;
}

}  // namespace inputfeed::wayland
