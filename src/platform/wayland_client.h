#pragma once

// The small Wayland client shared by the agent, the Wayland observer and the
// raw benchmark client: the globals they use, where the outputs lie, reading
// and writing without ever blocking on a full socket, flow control, and
// keymaps sent and received. A connection lost ends the process with one line
// on standard error.

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct zwlr_virtual_pointer_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;
struct org_kde_kwin_fake_input;

namespace inputfeed::wayland {

// A rectangle in the compositor's global logical coordinates.
struct Box {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool empty() const { return width <= 0 || height <= 0; }
};

class Client;

struct Output {
    Client* owner = nullptr;
    std::uint32_t name = 0;
    wl_output* output = nullptr;
    zxdg_output_v1* xdgOutput = nullptr;
    Box announced;  // as the latest events say
    Box box;        // as applied at the latest done; empty until the first
};

// What a program adds: globals it binds itself, and the seat's capabilities.
struct Hooks {
    void* data = nullptr;
    void (*global)(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                   std::uint32_t version) = nullptr;
    void (*seat)(void* data, wl_seat* seat, std::uint32_t capabilities) = nullptr;
};

class Client {
public:
    // Connects to the compositor WAYLAND_DISPLAY names and learns its globals,
    // the seat's capabilities and where the outputs lie; null, after one line
    // on standard error, when it cannot connect. Messages start with
    // `program`; a connection lost later ends the process with `lostStatus`.
    static std::unique_ptr<Client> open(const char* program, int lostStatus, Hooks hooks = {});
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    wl_display* display() const { return display_; }
    int fd() const { return wl_display_get_fd(display_); }
    const char* name() const { return name_; }
    wl_seat* seat() const { return seat_; }
    std::uint32_t seatCapabilities() const { return capabilities_; }
    zxdg_output_manager_v1* outputManager() const { return outputManager_; }
    zwlr_virtual_pointer_manager_v1* pointerManager() const { return pointerManager_; }
    zwp_virtual_keyboard_manager_v1* keyboardManager() const { return keyboardManager_; }
    org_kde_kwin_fake_input* fakeInput() const { return fakeInput_; }
    const std::vector<std::unique_ptr<Output>>& outputs() const { return outputs_; }
    // The box around every output; empty while there is none.
    const Box& layout() const { return layout_; }
    void setHooks(Hooks hooks) { hooks_ = hooks; }

    // Sends everything queued and waits until the compositor has processed it,
    // handling what arrives meanwhile.
    void roundtrip();

    // Handles whatever the compositor has sent, never waiting for more.
    void dispatch();

    // Sends everything queued, waiting while the socket is full, and handles
    // what has arrived meanwhile.
    void flush();

    // Called before the requests of each posted event: the first one after a
    // flush takes in what the compositor sent since, and learns where new
    // outputs lie, so that it moves in the current layout.
    void eventStarting();

    // Flow control, once after the requests of each posted event: writes out in
    // bounded steps and keeps the compositor within a window of events behind,
    // so neither side's fixed buffers can overflow.
    void eventSent();

    [[noreturn]] void lost() const;

private:
    Client(wl_display* display, const char* program, int lostStatus, Hooks hooks);
    void waitSocket(short events);
    void watch(Output& output);
    void relayout();

    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void globalRemove(void* data, wl_registry* registry, std::uint32_t name);
    static void capabilities(void* data, wl_seat* seat, std::uint32_t capabilities);

    wl_display* display_;
    const char* program_;
    int lostStatus_;
    Hooks hooks_;
    const char* name_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::uint32_t capabilities_ = 0;
    zxdg_output_manager_v1* outputManager_ = nullptr;
    zwlr_virtual_pointer_manager_v1* pointerManager_ = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboardManager_ = nullptr;
    org_kde_kwin_fake_input* fakeInput_ = nullptr;
    std::vector<std::unique_ptr<Output>> outputs_;
    Box layout_;
    bool newOutputs_ = false;  // announced, their logical place not yet asked for

    unsigned sinceFlush_ = 0;
    unsigned sinceSync_ = 0;
    wl_callback* pendingSync_ = nullptr;  // the pacing round trip in flight
};

// Makes `text`, an XKB keymap, the keymap of a virtual keyboard; false if it
// could not be handed over.
bool uploadKeymap(zwp_virtual_keyboard_v1* keyboard, std::string_view text);

// The text of a keymap the compositor sent (wl_keyboard.keymap); empty when
// it is not an XKB keymap or cannot be read. Closes `fd`.
std::string receiveKeymap(std::uint32_t format, int fd, std::uint32_t size);

}  // namespace inputfeed::wayland
