#include "platform/wayland_connection.h"

#include <poll.h>

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

bool named(const char* interface, const wl_interface& wanted) {
    return std::strcmp(interface, wanted.name) == 0;
}

template <typename T>
T* bind(wl_registry* registry, std::uint32_t name, const wl_interface& interface,
        std::uint32_t offered, std::uint32_t wanted) {
    return static_cast<T*>(wl_registry_bind(registry, name, &interface, std::min(offered, wanted)));
}

// libwayland's last message, kept for our one line instead of printed.
char lastMessage[200];

void keepMessage(const char* format, va_list arguments) {
    std::vsnprintf(lastMessage, sizeof lastMessage, format, arguments);
    lastMessage[std::strcspn(lastMessage, "\n")] = '\0';
}

}  // namespace

std::unique_ptr<Connection> Connection::open() {
    wl_log_set_handler_client(keepMessage);
    const char* name = std::getenv("WAYLAND_DISPLAY");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        const bool relative = !name || name[0] != '/';
        const char* cause = relative && (!runtime || !*runtime) ? "XDG_RUNTIME_DIR is not set"
                            : *lastMessage                      ? lastMessage
                                                                : std::strerror(errno);
        std::fprintf(stderr, "inputfeed: cannot connect to the Wayland compositor \"%s\" (%s)\n",
                     name, cause);
        return nullptr;
    }
    std::unique_ptr<Connection> connection(new Connection(display, name));
    // The first round trip lists the globals, the second brings the seat's
    // capabilities and the outputs' layout.
    connection->roundtrip();
    connection->roundtrip();
    connection->newOutputs_ = false;
    return connection;
}

Connection::Connection(wl_display* display, const char* name) : display_(display), name_(name) {
    static const wl_registry_listener listener{global, globalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &listener, this);
}

// The compositor removes our devices and objects with the connection; the
// proxies are ours to free.
Connection::~Connection() {
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

void Connection::onSeatChange(SeatListener listener, void* data) {
    seatListener_ = listener;
    seatData_ = data;
}

void Connection::roundtrip() {
    if (wl_display_roundtrip(display_) < 0) lost();
}

void Connection::lost() const {
    std::uint32_t id = 0;
    const wl_interface* interface = nullptr;
    if (wl_display_get_error(display_) == EPROTO &&
        wl_display_get_protocol_error(display_, &interface, &id) != 0 && interface) {
        std::fprintf(stderr,
                     "inputfeed: lost the connection to the Wayland compositor on \"%s\" "
                     "(protocol error on %s)\n",
                     name_, interface->name);
    } else if (*lastMessage) {
        std::fprintf(stderr,
                     "inputfeed: lost the connection to the Wayland compositor on \"%s\" (%s)\n",
                     name_, lastMessage);
    } else {
        std::fprintf(stderr, "inputfeed: lost the connection to the Wayland compositor on \"%s\"\n",
                     name_);
    }
    std::_Exit(1);
}

void Connection::eventStarting() {
    if (sinceFlush_ != 0) return;
    readAvailable();
    // Where a new output lies takes a round trip to learn; outputs come and go
    // rarely enough to wait for it.
    if (newOutputs_) {
        newOutputs_ = false;
        roundtrip();
    }
}

void Connection::eventSent() {
    if (++sinceFlush_ >= kFlushEvery) flush();
    if (++sinceSync_ < kSyncEvery) return;
    sinceSync_ = 0;
    while (pendingSync_) {
        flush();
        if (pendingSync_) waitSocket(POLLIN);
    }
    static const wl_callback_listener listener{syncDone};
    pendingSync_ = wl_display_sync(display_);
    wl_callback_add_listener(pendingSync_, &listener, this);
}

void Connection::syncDone(void* data, wl_callback* callback, std::uint32_t) {
    auto* self = static_cast<Connection*>(data);
    wl_callback_destroy(callback);
    if (self->pendingSync_ == callback) self->pendingSync_ = nullptr;
}

void Connection::flush() {
    sinceFlush_ = 0;
    for (;;) {
        readAvailable();
        if (wl_display_flush(display_) >= 0) return;
        // A full socket is no failure: wait until the compositor has read.
        if (errno != EAGAIN) lost();
        waitSocket(POLLOUT);
    }
}

// Reads and dispatches what has arrived, never waiting: keymap and output
// changes are handled between events, and the compositor's buffer for us
// never fills. One read stops where a message carrying file descriptors (a
// keymap) begins, so it reads until nothing is left.
void Connection::readAvailable() {
    for (;;) {
        while (wl_display_prepare_read(display_) != 0) {
            if (wl_display_dispatch_pending(display_) < 0) lost();
        }
        pollfd ready{wl_display_get_fd(display_), POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0) {
            wl_display_cancel_read(display_);
            break;
        }
        if (wl_display_read_events(display_) < 0) lost();
    }
    if (wl_display_dispatch_pending(display_) < 0) lost();
}

// Waits until the socket is ready for `events` or has something to read.
void Connection::waitSocket(short events) {
    pollfd ready{wl_display_get_fd(display_), static_cast<short>(events | POLLIN), 0};
    while (::poll(&ready, 1, -1) < 0) {
        if (errno != EINTR) lost();
    }
    readAvailable();
}

void Connection::global(void* data, wl_registry* registry, std::uint32_t name,
                        const char* interface, std::uint32_t version) {
    auto* self = static_cast<Connection*>(data);
    if (named(interface, wl_seat_interface)) {
        if (self->seat_) return;  // the first seat is the default one
        static const wl_seat_listener listener{capabilities, seatName};
        self->seat_ = bind<wl_seat>(registry, name, wl_seat_interface, version, 5);
        wl_seat_add_listener(self->seat_, &listener, self);
    } else if (named(interface, wl_output_interface)) {
        auto output = std::make_unique<Output>();
        output->owner = self;
        output->name = name;
        output->output = bind<wl_output>(registry, name, wl_output_interface, version, 3);
        self->watchOutput(*output);
        self->outputs_.push_back(std::move(output));
        self->newOutputs_ = true;
    } else if (named(interface, zxdg_output_manager_v1_interface)) {
        // Version 2 still ends each change with its own done event.
        self->outputManager_ = bind<zxdg_output_manager_v1>(
            registry, name, zxdg_output_manager_v1_interface, version, 2);
        for (const auto& output : self->outputs_) self->watchOutput(*output);
    } else if (named(interface, zwlr_virtual_pointer_manager_v1_interface)) {
        self->pointerManager_ = bind<zwlr_virtual_pointer_manager_v1>(
            registry, name, zwlr_virtual_pointer_manager_v1_interface, version, 1);
    } else if (named(interface, zwp_virtual_keyboard_manager_v1_interface)) {
        self->keyboardManager_ = bind<zwp_virtual_keyboard_manager_v1>(
            registry, name, zwp_virtual_keyboard_manager_v1_interface, version, 1);
    } else if (named(interface, org_kde_kwin_fake_input_interface) && version >= 4) {
        // Version 4 brings keys; 3 absolute motion.
        self->fakeInput_ = bind<org_kde_kwin_fake_input>(
            registry, name, org_kde_kwin_fake_input_interface, version, 4);
    }
}

void Connection::globalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto* self = static_cast<Connection*>(data);
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

void Connection::capabilities(void* data, wl_seat*, std::uint32_t capabilities) {
    auto* self = static_cast<Connection*>(data);
    self->capabilities_ = capabilities;
    if (self->seatListener_) self->seatListener_(self->seatData_, capabilities);
}

void Connection::watchOutput(Output& output) {
    if (!outputManager_ || output.xdgOutput) return;
    static const zxdg_output_v1_listener listener{logicalPosition, logicalSize, outputDone,
                                                  outputName, outputDescription};
    output.xdgOutput = zxdg_output_manager_v1_get_xdg_output(outputManager_, output.output);
    zxdg_output_v1_add_listener(output.xdgOutput, &listener, &output);
}

void Connection::logicalPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
    auto* output = static_cast<Output*>(data);
    output->x = x;
    output->y = y;
}

void Connection::logicalSize(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
    auto* output = static_cast<Output*>(data);
    output->width = width;
    output->height = height;
}

// Changes are atomic: they apply together at done.
void Connection::outputDone(void* data, zxdg_output_v1*) {
    auto* output = static_cast<Output*>(data);
    output->doneX = output->x;
    output->doneY = output->y;
    output->doneWidth = output->width;
    output->doneHeight = output->height;
    output->done = true;
    output->owner->relayout();
}

void Connection::relayout() {
    std::int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool any = false;
    for (const auto& output : outputs_) {
        if (!output->done || output->doneWidth <= 0 || output->doneHeight <= 0) continue;
        const std::int64_t x = output->doneX;
        const std::int64_t y = output->doneY;
        left = any ? std::min(left, x) : x;
        top = any ? std::min(top, y) : y;
        right = any ? std::max(right, x + output->doneWidth) : x + output->doneWidth;
        bottom = any ? std::max(bottom, y + output->doneHeight) : y + output->doneHeight;
        any = true;
    }
    layout_ = any ? Box{left, top, right - left, bottom - top} : Box{};
}

}  // namespace inputfeed::wayland
