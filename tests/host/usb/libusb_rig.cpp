// The rig's state lives on one thread, the one that iterates the GLib context umockdev answers
// ioctls on; the public calls hand their work to that thread and wait for it.
#include "tests/host/usb/libusb_rig.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <pthread.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bayercam/usb_ids.h"

namespace bayercam::host::testing {
namespace {

constexpr const char* kNode = "/dev/bus/usb/001/002";
constexpr const char* kSysPath = "/sys/devices/usb1/1-1";
// The serial number the plugged device reports.
constexpr const char* kRigSerial = "BC0042";
// A reap with nothing to give is held this long before it says EAGAIN: the emulated node is a
// socket that always polls writable, so answering at once would spin libusb's event loop.
constexpr guint kHeldReapMs = 1;

struct Urb {
    UMockdevIoctlData* data;    // the client's usbdevfs_urb; its buffer resolved below
    UMockdevIoctlData* buffer;  // null for a zero-length transfer
    usbdevfs_urb* fields() const { return reinterpret_cast<usbdevfs_urb*>(data->data); }
    std::span<std::uint8_t> bytes() const {
        return buffer ? std::span(buffer->data, buffer->data_len) : std::span<std::uint8_t>();
    }
};

std::vector<std::uint8_t> stringDescriptor(std::string_view text) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) out.insert(out.end(), {static_cast<std::uint8_t>(c), 0});
    return out;
}

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

}  // namespace

struct LibusbRig::State final : UsbFunctionEvents {
    UMockdevTestbed* testbed = umockdev_testbed_new();
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    GMainContext* context = g_main_context_new();
    std::thread thread;
    bool stop = false;  // everything below: touched on the rig's thread only

    UsbFunction* function = nullptr;
    std::vector<std::uint8_t> deviceDescriptor;
    bool gone = false;
    bool attached = false;
    bool claimedElsewhere = false;
    std::map<std::uint8_t, std::deque<Urb>> queues;  // by endpoint, in submission order
    std::map<std::uint8_t, bool> halted;
    std::deque<Urb> reapable;
    UMockdevIoctlClient* heldReap = nullptr;
    guint heldReapTimer = 0;
    guint retryTimer = 0;
    std::atomic<bool> pumpPending{false};

    State() {
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(&State::onIoctl), this);
        thread = std::thread([this] {
            pthread_setname_np(pthread_self(), "usb-rig");
            g_main_context_push_thread_default(context);
            while (!stop) g_main_context_iteration(context, TRUE);
            g_main_context_pop_thread_default(context);
        });
    }

    ~State() {
        run([this] {
            if (function != nullptr) function->bind(nullptr);
            for (auto& [endpoint, queue] : queues) std::ranges::for_each(queue, release);
            std::ranges::for_each(reapable, release);
            completeHeldReap(nullptr);
            removeSource(retryTimer);
            stop = true;
        });
        thread.join();
        g_object_unref(handler);
        g_object_unref(testbed);
        g_main_context_unref(context);
    }

    // Runs work on the rig's thread at its next turn.
    void post(std::function<void()> work, gint priority = G_PRIORITY_DEFAULT_IDLE) {
        GSource* idle = g_idle_source_new();
        g_source_set_priority(idle, priority);
        g_source_set_callback(
            idle,
            [](gpointer data) -> gboolean {
                (*static_cast<std::function<void()>*>(data))();
                return G_SOURCE_REMOVE;
            },
            new std::function<void()>(std::move(work)),
            [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
        g_source_attach(idle, context);
        g_source_unref(idle);
    }

    // Runs work on the rig's thread and waits for it.
    void run(const std::function<void()>& work) {
        std::promise<void> done;
        post(
            [&] {
                work();
                done.set_value();
            },
            G_PRIORITY_DEFAULT);
        done.get_future().wait();
    }

    static void release(Urb& urb) {
        if (urb.buffer != nullptr) umockdev_ioctl_data_unref(urb.buffer);
        umockdev_ioctl_data_unref(urb.data);
    }

    // Called by the function from any thread: look at the queues again on the rig's thread.
    void functionChanged() noexcept override {
        if (pumpPending.exchange(true)) return;
        post([this] {
            pumpPending = false;
            pump();
        });
    }

    void finish(Urb urb, int status) {
        urb.fields()->status = status;
        reapable.push_back(urb);
        if (heldReap != nullptr) completeHeldReap(&reapable.front());
    }

    // Gives the held reap its URB; null: nothing came (ENODEV once the device has gone).
    void completeHeldReap(Urb* urb) {
        if (heldReap == nullptr) return;
        removeSource(heldReapTimer);
        UMockdevIoctlClient* client = heldReap;
        heldReap = nullptr;
        if (urb != nullptr) {
            giveUrb(client);
        } else {
            umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EAGAIN);
        }
        g_object_unref(client);
    }

    void giveUrb(UMockdevIoctlClient* client) {
        Urb urb = reapable.front();
        reapable.pop_front();
        UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(
            umockdev_ioctl_client_get_arg(client), 0, sizeof(void*), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, urb.data);
        umockdev_ioctl_client_complete(client, 0, 0);
        umockdev_ioctl_data_unref(pointer);
        release(urb);
    }

    // One attempt on the head of each endpoint's queue, until none moves.
    void pump() {
        UsbClock::time_point wakeAt = UsbClock::time_point::max();
        for (bool progress = true; progress && function != nullptr;) {
            progress = false;
            for (auto& [endpoint, queue] : queues) {
                if (!queue.empty()) progress |= serviceHead(endpoint, queue, wakeAt);
            }
        }
        removeSource(retryTimer);
        if (wakeAt == UsbClock::time_point::max()) return;
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - UsbClock::now());
        retryTimer = attachTimer(static_cast<guint>(std::max<long>(wait.count(), 0)),
                                 [](gpointer data) -> gboolean {
                                     auto* self = static_cast<State*>(data);
                                     self->retryTimer = 0;
                                     self->pump();
                                     return G_SOURCE_REMOVE;
                                 });
    }

    void removeSource(guint& id) {
        if (id == 0) return;
        if (GSource* source = g_main_context_find_source_by_id(context, id))
            g_source_destroy(source);
        id = 0;
    }

    guint attachTimer(guint milliseconds, GSourceFunc callback) {
        GSource* timer = g_timeout_source_new(milliseconds);
        g_source_set_callback(timer, callback, this, nullptr);
        guint id = g_source_attach(timer, context);
        g_source_unref(timer);
        return id;
    }

    // True when the head URB moved or ended.
    bool serviceHead(std::uint8_t endpoint, std::deque<Urb>& queue, UsbClock::time_point& wakeAt) {
        Urb urb = queue.front();
        usbdevfs_urb* fields = urb.fields();
        const UsbPortState port = function->portState();
        int status = !port.connected    ? -ENODEV
                     : !port.enabled    ? -EPROTO
                     : halted[endpoint] ? -EPIPE
                                        : 0;
        if (status == 0) {
            auto rest = urb.bytes().subspan(static_cast<std::size_t>(fields->actual_length));
            const bool in = (endpoint & 0x80) != 0;
            UsbDataResult result =
                in ? function->dataIn(endpoint, rest) : function->dataOut(endpoint, rest);
            fields->actual_length += static_cast<int>(std::min(result.bytes, rest.size()));
            if (result.handshake == UsbHandshake::Nak) {
                wakeAt = std::min(wakeAt, result.retryAt);
                return false;
            }
            halted[endpoint] = result.handshake == UsbHandshake::Stall;
            status = halted[endpoint]                          ? -EPIPE
                     : result.handshake == UsbHandshake::Error ? -EPROTO
                                                               : 0;
            const bool whole =
                fields->actual_length == fields->buffer_length || (in && result.shortPacket);
            if (status == 0 && !whole) return result.bytes > 0;
        }
        queue.pop_front();
        finish(urb, status);
        return true;
    }

    // Standard requests on endpoint 0: descriptors, as the device would answer them.
    void control(Urb urb) {
        auto bytes = urb.bytes();
        if (bytes.size() < 8) return finish(urb, -EINVAL);
        const std::uint8_t request = bytes[1];
        const std::uint8_t type = bytes[3];
        const std::uint8_t index = bytes[2];
        std::vector<std::uint8_t> answer;
        if (request == 6 && type == 1) answer = deviceDescriptor;
        if (request == 6 && type == 2 && index == 0) answer = function->configurationDescriptor();
        if (request == 6 && type == 3 && index == 0) answer = {4, 3, 0x09, 0x04};
        if (request == 6 && type == 3 && index == 3) answer = stringDescriptor(kRigSerial);
        if (answer.empty()) return finish(urb, -EPIPE);
        const std::size_t asked = bytes[6] | bytes[7] << 8;
        const std::size_t moved = std::min({asked, answer.size(), bytes.size() - 8});
        std::memcpy(bytes.data() + 8, answer.data(), moved);
        urb.fields()->actual_length = static_cast<int>(moved);
        finish(urb, 0);
    }

    void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        UMockdevIoctlData* data =
            umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        auto* fields = reinterpret_cast<usbdevfs_urb*>(data->data);
        UMockdevIoctlData* buffer =
            fields->buffer_length > 0
                ? umockdev_ioctl_data_resolve(data, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                              static_cast<gsize>(fields->buffer_length), nullptr)
                : nullptr;
        fields->actual_length = 0;
        fields->status = 0;
        umockdev_ioctl_client_complete(client, 0, 0);
        Urb urb{umockdev_ioctl_data_ref(data), buffer};
        umockdev_ioctl_data_unref(data);
        if (fields->type == USBDEVFS_URB_TYPE_CONTROL) return control(urb);
        queues[fields->endpoint].push_back(urb);
        pump();
    }

    void reap(UMockdevIoctlClient* client) {
        if (!reapable.empty()) return giveUrb(client);
        heldReap = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        heldReapTimer = attachTimer(kHeldReapMs, [](gpointer data) -> gboolean {
            auto* self = static_cast<State*>(data);
            self->heldReapTimer = 0;
            self->completeHeldReap(nullptr);
            return G_SOURCE_REMOVE;
        });
    }

    // A discarded URB is reaped with ENOENT, as the kernel gives it back.
    void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
        const gulong address = *reinterpret_cast<gulong*>(arg->data);
        for (auto& [endpoint, queue] : queues) {
            for (auto it = queue.begin(); it != queue.end(); ++it) {
                if (it->data->client_addr != address) continue;
                Urb urb = *it;
                queue.erase(it);
                umockdev_ioctl_client_complete(client, 0, 0);
                return finish(urb, -ENOENT);
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }

    // The low byte of the request's 32-bit argument: an endpoint or a configuration value.
    static std::uint8_t argByte(UMockdevIoctlData* arg) {
        UMockdevIoctlData* word = umockdev_ioctl_data_resolve(arg, 0, 4, nullptr);
        const auto value = static_cast<std::uint8_t>(*reinterpret_cast<unsigned*>(word->data));
        umockdev_ioctl_data_unref(word);
        return value;
    }

    bool handle(UMockdevIoctlClient* client) {
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
            reap(client);
            return true;
        }
        if (request == USBDEVFS_DISCARDURB) {
            discard(client, arg);
            return true;
        }
        if (gone) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return true;
        }
        switch (request) {
            case USBDEVFS_SUBMITURB:
                submit(client, arg);
                return true;
            case USBDEVFS_GET_CAPABILITIES: {
                UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, 4, nullptr);
                *reinterpret_cast<guint32*>(caps->data) = USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                                          USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                                          USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
                umockdev_ioctl_data_unref(caps);
                break;
            }
            case USBDEVFS_CLAIMINTERFACE:
            case USBDEVFS_DISCONNECT_CLAIM:
                if (claimedElsewhere) {
                    umockdev_ioctl_client_complete(client, -1, EBUSY);
                    return true;
                }
                break;
            case USBDEVFS_GETDRIVER:
                umockdev_ioctl_client_complete(client, -1, ENODATA);
                return true;
            case USBDEVFS_CLEAR_HALT:
                halted[argByte(arg)] = false;
                function->clearHalt(argByte(arg));
                break;
            case USBDEVFS_RESET:
                function->resetPort();
                break;
            case USBDEVFS_SETCONFIGURATION:
                function->setConfiguration(argByte(arg));
                break;
            case USBDEVFS_RELEASEINTERFACE:
            case USBDEVFS_IOCTL:
                break;
            default:
                return false;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        pump();
        return true;
    }

    // umockdev emits this on a thread of its own; the request is answered on the rig's thread,
    // where all its state lives.
    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
        auto* self = static_cast<State*>(data);
        std::shared_ptr<UMockdevIoctlClient> held(
            static_cast<UMockdevIoctlClient*>(g_object_ref(client)), g_object_unref);
        self->post([self, held] {
            if (!self->handle(held.get())) umockdev_ioctl_client_complete(held.get(), -1, ENOTTY);
        });
        return TRUE;
    }

    // Empty, or why umockdev would not take the device.
    std::string plug(UsbFunction& device) {
        function = &device;
        deviceDescriptor = device.deviceDescriptor();
        const std::uint16_t ids[] = {kCameraUsbVendorId, kCameraUsbProductId};  // little-endian
        std::memcpy(&deviceDescriptor[8], ids, sizeof ids);
        const std::vector<std::uint8_t> config = device.configurationDescriptor();
        // The kernel configures a new device with its first configuration.
        device.setConfiguration(config.size() > 5 ? config[5] : 1);
        device.bind(this);
        gone = false;
        halted.clear();
        if (!attached && !umockdev_testbed_attach_ioctl(testbed, kNode, handler, nullptr)) {
            return "umockdev could not emulate the device node";
        }
        attached = true;
        const std::string record =
            std::string("P: /devices/usb1/1-1\nN: bus/usb/001/002\nE: SUBSYSTEM=usb\n") +
            "E: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=002\n" + "E: DEVNAME=" + kNode +
            "\nA: busnum=1\\n\nA: devnum=2\\n\n" +
            "A: bConfigurationValue=" + std::to_string(config.size() > 5 ? config[5] : 1) +
            "\\n\nA: speed=480\\n\nH: descriptors=" + hex(deviceDescriptor) + hex(config) + "\n";
        GError* error = nullptr;
        if (umockdev_testbed_add_from_string(testbed, record.c_str(), &error)) return "";
        std::string message = std::string("umockdev refused the device: ") + error->message;
        g_error_free(error);
        return message;
    }

    // What is in flight fails as on a vanished device, and stays reapable.
    void unplug() {
        gone = true;
        for (auto& [endpoint, queue] : queues) {
            for (; !queue.empty(); queue.pop_front()) finish(queue.front(), -ENODEV);
        }
        umockdev_testbed_uevent(testbed, kSysPath, "remove");
        umockdev_testbed_remove_device(testbed, kSysPath);
        if (function != nullptr) function->bind(nullptr);
        function = nullptr;
    }
};

LibusbRig::LibusbRig() : state_(std::make_unique<State>()) {}

LibusbRig::~LibusbRig() = default;

void LibusbRig::plug(UsbFunction& function) {
    std::string failure;
    state_->run([&] { failure = state_->plug(function); });
    if (!failure.empty()) throw std::runtime_error(failure);
}

void LibusbRig::unplug() {
    state_->run([this] { state_->unplug(); });
}

void LibusbRig::setClaimedElsewhere(bool claimed) {
    state_->run([&] { state_->claimedElsewhere = claimed; });
}

void LibusbRig::denyAccess() {
    std::string node;
    state_->run([&] {
        gchar* root = umockdev_testbed_get_root_dir(state_->testbed);
        node = std::string(root) + kNode;
        g_free(root);
    });
    if (chmod(node.c_str(), 0) != 0) throw std::runtime_error("cannot deny access to " + node);
}

std::size_t LibusbRig::urbsInFlight() {
    std::size_t count = 0;
    state_->run([&] {
        count = state_->reapable.size();
        for (const auto& [endpoint, queue] : state_->queues) count += queue.size();
    });
    return count;
}

}  // namespace bayercam::host::testing
