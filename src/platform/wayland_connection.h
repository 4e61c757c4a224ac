#pragma once

// The Wayland agent's connection to the compositor: the globals it needs, the
// layout of the outputs, and flow control. Every failure of the connection ends
// the process with one line on standard error and exit status 1.

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <vector>

struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct org_kde_kwin_fake_input;

namespace inputfeed::wayland {

// The bounding box of every output in the compositor's global logical
// coordinates; empty while there is no output.
struct Box {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

class Connection;

// One output: its logical rectangle as xdg-output reports it, which, unlike the
// wl_output mode, is what the pointer moves in on a scaled output.
struct Output {
    Connection* owner = nullptr;
    std::uint32_t name = 0;  // the registry's name of the global
    wl_output* output = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    std::int32_t x = 0, y = 0, width = 0, height = 0;  // announced, not yet done
    std::int32_t doneX = 0, doneY = 0, doneWidth = 0, doneHeight = 0;
    bool done = false;
};

// Called with the seat's capabilities whenever they change.
using SeatListener = void (*)(void* data, std::uint32_t capabilities);

class Connection {
public:
    // Connects to the compositor WAYLAND_DISPLAY names and collects its
    // globals; null (after one line on standard error) when it cannot connect.
    static std::unique_ptr<Connection> open();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    wl_display* display() const { return display_; }
    const char* name() const { return name_; }
    wl_seat* seat() const { return seat_; }
    std::uint32_t seatCapabilities() const { return capabilities_; }
    zxdg_output_manager_v1* outputManager() const { return outputManager_; }
    zwlr_virtual_pointer_manager_v1* pointerManager() const { return pointerManager_; }
    zwp_virtual_keyboard_manager_v1* keyboardManager() const { return keyboardManager_; }
    org_kde_kwin_fake_input* fakeInput() const { return fakeInput_; }
    const Box& layout() const { return layout_; }
    void onSeatChange(SeatListener listener, void* data);

    // Sends everything queued and waits until the compositor has processed it,
    // dispatching what arrives meanwhile.
    void roundtrip();

    // Called before the requests of each posted event: the first event after a
    // flush (the agent may have waited for input since) first takes in what the
    // compositor has sent, so that it moves in the current layout.
    void eventStarting();

    // Flow control, called once after the requests of each posted event:
    // writes out in bounded steps and keeps the compositor within a window of
    // events behind, so neither side's fixed buffers can overflow.
    void eventSent();

    // Sends everything queued, waiting while the socket is full, and handles
    // whatever the compositor has sent, without waiting for more.
    void flush();

    // The connection is gone: says so and ends the process.
    [[noreturn]] void lost() const;

private:
    Connection(wl_display* display, const char* name);
    void readAvailable();
    void waitSocket(short events);
    void relayout();

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void globalRemove(void* data, wl_registry* registry, std::uint32_t name);
    static void capabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
    static void seatName(void*, wl_seat*, const char*) {}
    static void syncDone(void* data, wl_callback* callback, std::uint32_t serial);
    static void logicalPosition(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y);
    static void logicalSize(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height);
    static void outputDone(void* data, zxdg_output_v1*);
    static void outputName(void*, zxdg_output_v1*, const char*) {}
    static void outputDescription(void*, zxdg_output_v1*, const char*) {}
    void watchOutput(Output& output);

    wl_display* display_;
    const char* name_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::uint32_t capabilities_ = 0;
    SeatListener seatListener_ = nullptr;
    void* seatData_ = nullptr;
    zxdg_output_manager_v1* outputManager_ = nullptr;
    zwlr_virtual_pointer_manager_v1* pointerManager_ = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboardManager_ = nullptr;
    org_kde_kwin_fake_input* fakeInput_ = nullptr;
    std::vector<std::unique_ptr<Output>> outputs_;  // changes only when outputs do
    Box layout_;
    bool newOutputs_ = false;  // announced, their logical place not yet asked for

    unsigned sinceFlush_ = 0;
    unsigned sinceSync_ = 0;
    wl_callback* pendingSync_ = nullptr;  // the pacing round trip in flight
};

}  // namespace inputfeed::wayland
