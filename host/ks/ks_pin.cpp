#include "host/ks/ks_pin.h"

#include <utility>

#include "host/kernel/verifier.h"
#include "host/ks/format_match.h"
#include "host/ks/ks_filter.h"
#include "host/ks/pin_clock.h"
#include "host/ks/request_irp.h"

namespace bayercam::host::ks {
namespace {

constexpr ULONG kPriorityNormal = 0x40000000;

bool formatUsable(const KSDATAFORMAT* format) {
    return format != nullptr && format->FormatSize >= sizeof(KSDATAFORMAT);
}

}  // namespace

KsPin::KsPin(KsFilter& filter, ULONG id, const KSPIN_DESCRIPTOR_EX* descriptor) noexcept
    : KsNode(Kind::Pin, filter.device(), &filter), frames_(&ks_), clock_(new PinClock) {
    ks_.Descriptor = descriptor;
    ks_.Bag = bag_.handle();
    ks_.Id = id;
    ks_.Communication = descriptor->PinDescriptor.Communication;
    ks_.DataFlow = descriptor->PinDescriptor.DataFlow;
    ks_.ConnectionPriority.PriorityClass = kPriorityNormal;
    ks_.ConnectionPriority.PrioritySubClass = 1;
    ks_.DeviceState = KSSTATE_STOP;
    ks_.ClientState = KSSTATE_STOP;
    ks_.ResetState = KSRESET_END;
    registerNode(&ks_, this);
    registerNode(this, this);
    processor_ =
        std::make_unique<PinProcessor>([this] { return mayProcess(); }, [this] { processPass(); });
}

KsPin::~KsPin() {
    processor_->shutdown();
    if (clock_->references() != 1) {
        verifier::report("ks: the pin's reference clock is still referenced when the pin closes");
    }
    clock_->Release();
    bag_.releaseAll();
    unregisterNode(this);
    unregisterNode(&ks_);
}

NTSTATUS KsPin::create(KsFilter& filter, ULONG id, const KSPIN_DESCRIPTOR_EX* descriptor,
                       const KSDATAFORMAT* format, std::unique_ptr<KsPin>* pin) noexcept {
    if (!formatUsable(format)) return STATUS_INVALID_PARAMETER;
    const KSDATARANGE* range = findRangeForFormat(*descriptor, *format);
    if (range == nullptr) return STATUS_NO_MATCH;
    std::unique_ptr<KsPin> created(new KsPin(filter, id, descriptor));
    created->adoptFormat(format);
    NTSTATUS status = created->createInstance(range);
    if (!NT_SUCCESS(status)) return status;  // the destructor empties the bag
    *pin = std::move(created);
    return STATUS_SUCCESS;
}

NTSTATUS KsPin::createInstance(const KSDATARANGE* range) noexcept {
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch == nullptr) return STATUS_SUCCESS;
    if (dispatch->SetDataFormat != nullptr) {
        NTSTATUS status = dispatch->SetDataFormat(&ks_, nullptr, nullptr, range, nullptr);
        if (!NT_SUCCESS(status)) return status;
    }
    if (dispatch->Create != nullptr) {
        RequestIrp irp(IRP_MJ_CREATE, 0, &ks_);
        if (irp.get() == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
        NTSTATUS status = dispatch->Create(&ks_, irp.get());
        if (!NT_SUCCESS(status)) return status;
    }
    created_ = true;
    return STATUS_SUCCESS;
}

void KsPin::adoptFormat(const KSDATAFORMAT* format) {
    format_ = std::make_unique<LONGLONG[]>((format->FormatSize + 7) / 8);
    RtlCopyMemory(format_.get(), format, format->FormatSize);
    ks_.ConnectionFormat = reinterpret_cast<PKSDATAFORMAT>(format_.get());
}

void KsPin::close() noexcept {
    std::lock_guard lock(control_);
    if (!created_) return;
    walk(KSSTATE_STOP, true);
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Close != nullptr) {
        RequestIrp irp(IRP_MJ_CLOSE, 0, &ks_);
        dispatch->Close(&ks_, irp.get());
    }
    created_ = false;
}

NTSTATUS KsPin::setFormat(const KSDATAFORMAT* format) noexcept {
    if (!formatUsable(format)) return STATUS_INVALID_PARAMETER;
    std::lock_guard lock(control_);
    const KSDATARANGE* range = findRangeForFormat(*ks_.Descriptor, *format);
    if (range == nullptr) return STATUS_NO_MATCH;
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    std::unique_ptr<LONGLONG[]> old = std::move(format_);
    adoptFormat(format);
    if (dispatch == nullptr || dispatch->SetDataFormat == nullptr) return STATUS_SUCCESS;
    auto* oldFormat = reinterpret_cast<PKSDATAFORMAT>(old.get());
    NTSTATUS status = dispatch->SetDataFormat(&ks_, oldFormat, nullptr, range, nullptr);
    if (!NT_SUCCESS(status)) {
        format_ = std::move(old);
        ks_.ConnectionFormat = oldFormat;
    }
    return status;
}

NTSTATUS KsPin::queueFrame(ULONG dataSize, bool withFrameInfo) noexcept {
    return queueFrame(std::vector<uint8_t>(dataSize, 0), withFrameInfo);
}

NTSTATUS KsPin::queueFrame(std::vector<uint8_t> buffer, bool withFrameInfo) noexcept {
    NTSTATUS status = frames_.queue(std::move(buffer), withFrameInfo);
    if (NT_SUCCESS(status) &&
        (ks_.Descriptor->Flags & KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING) == 0) {
        processor_->attempt();
    }
    return status;
}

bool KsPin::mayProcess() noexcept {
    if (!created_) return false;
    if (ks_.DeviceState == KSSTATE_RUN) return true;
    bool runOnly = (ks_.Descriptor->Flags & KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY) != 0;
    return !runOnly && ks_.DeviceState == KSSTATE_PAUSE;
}

void KsPin::processPass() noexcept {
    const KSPIN_DISPATCH* dispatch = ks_.Descriptor->Dispatch;
    if (dispatch != nullptr && dispatch->Process != nullptr) dispatch->Process(&ks_);
}

}  // namespace bayercam::host::ks
