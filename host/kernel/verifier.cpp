#include "host/kernel/verifier.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace bayercam::host::verifier {
namespace {

struct Record {
    std::mutex lock;
    std::vector<std::string> failures;  // guarded by lock
};

Record& record() {
    static Record instance;
    return instance;
}

}  // namespace

void report(std::string message) noexcept {
    std::fprintf(stderr, "VERIFIER: %s\n", message.c_str());
    Record& r = record();
    std::lock_guard guard(r.lock);
    try {
        r.failures.push_back(std::move(message));
    } catch (...) {
        // Out of memory while recording: the message above is all that is left of it.
        std::fprintf(stderr, "VERIFIER: could not record the failure above\n");
    }
}

std::vector<std::string> takeFailures() {
    Record& r = record();
    std::lock_guard guard(r.lock);
    return std::exchange(r.failures, {});
}

}  // namespace bayercam::host::verifier
