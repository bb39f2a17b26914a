// Notification and synchronization events.
#include <string>

#include "host/kernel/dispatcher.h"
#include "host/kernel/verifier.h"

namespace {

using namespace bayercam::host;

bool isEvent(PRKEVENT event, const char* service) {
    const UCHAR type = dispatcher::typeOf(event->Header);
    if (type == dispatcher::kNotificationEvent || type == dispatcher::kSynchronizationEvent) {
        return true;
    }
    verifier::report(std::string(service) +
                     " on an object that is not an initialized event (type " +
                     std::to_string(type) + ")");
    return false;
}

}  // namespace

extern "C" VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    if (Type != NotificationEvent && Type != SynchronizationEvent) {
        verifier::report("KeInitializeEvent with unknown event type " + std::to_string(Type));
    }
    dispatcher::initialize(Event->Header, static_cast<UCHAR>(Type), State ? 1 : 0);
}

extern "C" LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN) {
    if (!isEvent(Event, "KeSetEvent")) return 0;
    return dispatcher::signal(Event->Header);
}

extern "C" LONG KeResetEvent(PRKEVENT Event) {
    if (!isEvent(Event, "KeResetEvent")) return 0;
    return dispatcher::reset(Event->Header);
}

extern "C" VOID KeClearEvent(PRKEVENT Event) {
    if (isEvent(Event, "KeClearEvent")) dispatcher::reset(Event->Header);
}
