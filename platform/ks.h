// Windows x64 kernel-streaming declarations the minidriver calls: the device, filter and pin
// objects and their descriptors, automation tables, data formats and ranges of video, allocator
// framing, stream headers and pointers, the reference clock interface, GUIDs, flags and the
// class driver services. Declarations only; on the host they are implemented by host/ks.
#pragma once

#if defined(BAYERCAM_WINDOWS_KERNEL)
#include "platform/windows/ks.h"
#else

#include "platform/kernel.h"

// ---------------------------------------------------------------- forward declarations

typedef struct _KSDEVICE KSDEVICE, *PKSDEVICE;
typedef struct _KSFILTERFACTORY KSFILTERFACTORY, *PKSFILTERFACTORY;
typedef struct _KSFILTER KSFILTER, *PKSFILTER;
typedef struct _KSPIN KSPIN, *PKSPIN;
typedef struct _KSDEVICE_DESCRIPTOR KSDEVICE_DESCRIPTOR, *PKSDEVICE_DESCRIPTOR;
typedef struct _KSDEVICE_DISPATCH KSDEVICE_DISPATCH, *PKSDEVICE_DISPATCH;
typedef struct _KSFILTER_DESCRIPTOR KSFILTER_DESCRIPTOR, *PKSFILTER_DESCRIPTOR;
typedef struct _KSFILTER_DISPATCH KSFILTER_DISPATCH, *PKSFILTER_DISPATCH;
typedef struct _KSPIN_DESCRIPTOR_EX KSPIN_DESCRIPTOR_EX, *PKSPIN_DESCRIPTOR_EX;
typedef struct _KSPIN_DISPATCH KSPIN_DISPATCH, *PKSPIN_DISPATCH;
typedef struct _KSAUTOMATION_TABLE KSAUTOMATION_TABLE, *PKSAUTOMATION_TABLE;
typedef struct _KSSTREAM_POINTER KSSTREAM_POINTER, *PKSSTREAM_POINTER;
typedef struct _KSSTREAM_POINTER_OFFSET KSSTREAM_POINTER_OFFSET, *PKSSTREAM_POINTER_OFFSET;
typedef struct _KSPROCESSPIN_INDEXENTRY KSPROCESSPIN_INDEXENTRY, *PKSPROCESSPIN_INDEXENTRY;
typedef struct _KSCLOCK_DISPATCH KSCLOCK_DISPATCH;
typedef struct _KSALLOCATOR_DISPATCH KSALLOCATOR_DISPATCH;
typedef struct _KSPROPERTY_VALUES KSPROPERTY_VALUES;
typedef struct _KSATTRIBUTE_LIST KSATTRIBUTE_LIST;
typedef struct _CM_RESOURCE_LIST* PCM_RESOURCE_LIST;
typedef struct _DEVICE_CAPABILITIES* PDEVICE_CAPABILITIES;

typedef PVOID KSOBJECT_BAG;
typedef PVOID PSECURITY_DESCRIPTOR;
typedef LONGLONG REFERENCE_TIME;
typedef LONGLONG* PLONGLONG;
typedef int BOOL;
typedef uint32_t DWORD;
typedef uint16_t WORD;

// ---------------------------------------------------------------- power states (device header)

typedef enum _SYSTEM_POWER_STATE {
    PowerSystemUnspecified = 0,
    PowerSystemWorking = 1,
} SYSTEM_POWER_STATE;

typedef enum _DEVICE_POWER_STATE {
    PowerDeviceUnspecified = 0,
    PowerDeviceD0 = 1,
    PowerDeviceD3 = 4,
} DEVICE_POWER_STATE;

typedef enum _POWER_ACTION { PowerActionNone = 0 } POWER_ACTION;

// ---------------------------------------------------------------- identifiers and properties

typedef struct {
    union {
        struct {
            GUID Set;
            ULONG Id;
            ULONG Flags;
        };
        LONGLONG Alignment;
    };
} KSIDENTIFIER, *PKSIDENTIFIER;
typedef KSIDENTIFIER KSPROPERTY, *PKSPROPERTY;
typedef KSIDENTIFIER KSMETHOD, *PKSMETHOD;
typedef KSIDENTIFIER KSEVENT, *PKSEVENT;
typedef KSIDENTIFIER KSPIN_INTERFACE, *PKSPIN_INTERFACE;
typedef KSIDENTIFIER KSPIN_MEDIUM, *PKSPIN_MEDIUM;
static_assert(sizeof(KSPROPERTY) == 24, "KSPROPERTY layout");
static_assert(offsetof(KSIDENTIFIER, Id) == 16 && offsetof(KSIDENTIFIER, Flags) == 20,
              "KSIDENTIFIER layout");

#define KSPROPERTY_TYPE_GET 0x00000001
#define KSPROPERTY_TYPE_SET 0x00000002
#define KSPROPERTY_TYPE_BASICSUPPORT 0x00000200

// Pin property request: the property, then the pin factory id.
typedef struct {
    KSPROPERTY Property;
    ULONG PinId;
    union {
        ULONG Reserved;
        ULONG Flags;
    };
} KSP_PIN, *PKSP_PIN;
static_assert(sizeof(KSP_PIN) == 32, "KSP_PIN layout");

typedef struct {
    ULONG Size;
    ULONG Count;
} KSMULTIPLE_ITEM, *PKSMULTIPLE_ITEM;

typedef struct {
    ULONG PriorityClass;
    ULONG PrioritySubClass;
} KSPRIORITY, *PKSPRIORITY;

// Property and method item handler: the request IRP, the request and the data buffer.
typedef NTSTATUS (*PFNKSHANDLER)(PIRP Irp, PKSIDENTIFIER Request, PVOID Data);
typedef BOOLEAN (*PFNKSFASTHANDLER)(PVOID FileObject, PKSIDENTIFIER Request, ULONG RequestLength,
                                    PVOID Data, ULONG DataLength, PIO_STATUS_BLOCK IoStatus);
typedef NTSTATUS (*PFNKSADDEVENT)(PIRP Irp, PVOID EventData, PVOID EventEntry);
typedef VOID (*PFNKSREMOVEEVENT)(PVOID FileObject, PVOID EventEntry);

typedef struct {
    ULONG PropertyId;
    union {
        PFNKSHANDLER GetPropertyHandler;
        BOOLEAN GetSupported;
    };
    ULONG MinProperty;
    ULONG MinData;
    union {
        PFNKSHANDLER SetPropertyHandler;
        BOOLEAN SetSupported;
    };
    const KSPROPERTY_VALUES* Values;
    ULONG RelationsCount;
    const KSPROPERTY* Relations;
    PFNKSHANDLER SupportHandler;
    ULONG SerializedSize;
} KSPROPERTY_ITEM, *PKSPROPERTY_ITEM;
static_assert(sizeof(KSPROPERTY_ITEM) == 72, "KSPROPERTY_ITEM layout");
static_assert(offsetof(KSPROPERTY_ITEM, MinProperty) == 16 &&
                  offsetof(KSPROPERTY_ITEM, SetPropertyHandler) == 24,
              "KSPROPERTY_ITEM layout");

typedef struct {
    ULONG PropertyId;
    union {
        PFNKSFASTHANDLER GetPropertyHandler;
        BOOLEAN GetSupported;
    };
    union {
        PFNKSFASTHANDLER SetPropertyHandler;
        BOOLEAN SetSupported;
    };
    ULONG Reserved;
} KSFASTPROPERTY_ITEM, *PKSFASTPROPERTY_ITEM;

typedef struct {
    const GUID* Set;
    ULONG PropertiesCount;
    const KSPROPERTY_ITEM* PropertyItem;
    ULONG FastIoCount;
    const KSFASTPROPERTY_ITEM* FastIoTable;
} KSPROPERTY_SET, *PKSPROPERTY_SET;
static_assert(sizeof(KSPROPERTY_SET) == 40, "KSPROPERTY_SET layout");

typedef struct {
    ULONG MethodId;
    union {
        PFNKSHANDLER MethodHandler;
        BOOLEAN MethodSupported;
    };
    ULONG MinMethod;
    ULONG MinData;
    PFNKSHANDLER SupportHandler;
    ULONG Flags;
} KSMETHOD_ITEM, *PKSMETHOD_ITEM;
static_assert(sizeof(KSMETHOD_ITEM) == 40, "KSMETHOD_ITEM layout");

typedef struct {
    const GUID* Set;
    ULONG MethodsCount;
    const KSMETHOD_ITEM* MethodItem;
    ULONG FastIoCount;
    const void* FastIoTable;
} KSMETHOD_SET, *PKSMETHOD_SET;

typedef struct {
    ULONG EventId;
    ULONG DataInput;
    ULONG ExtraEntryData;
    PFNKSADDEVENT AddHandler;
    PFNKSREMOVEEVENT RemoveHandler;
    PFNKSHANDLER SupportHandler;
} KSEVENT_ITEM, *PKSEVENT_ITEM;
static_assert(sizeof(KSEVENT_ITEM) == 40, "KSEVENT_ITEM layout");

typedef struct {
    const GUID* Set;
    ULONG EventsCount;
    const KSEVENT_ITEM* EventItem;
} KSEVENT_SET, *PKSEVENT_SET;

struct _KSAUTOMATION_TABLE {
    ULONG PropertySetsCount;
    ULONG PropertyItemSize;
    const KSPROPERTY_SET* PropertySets;
    ULONG MethodSetsCount;
    ULONG MethodItemSize;
    const KSMETHOD_SET* MethodSets;
    ULONG EventSetsCount;
    ULONG EventItemSize;
    const KSEVENT_SET* EventSets;
};
static_assert(sizeof(KSAUTOMATION_TABLE) == 48, "KSAUTOMATION_TABLE layout");

// ---------------------------------------------------------------- data formats and ranges

typedef union {
    struct {
        ULONG FormatSize;
        ULONG Flags;
        ULONG SampleSize;
        ULONG Reserved;
        GUID MajorFormat;
        GUID SubFormat;
        GUID Specifier;
    };
    LONGLONG Alignment;
} KSDATAFORMAT, *PKSDATAFORMAT, KSDATARANGE, *PKSDATARANGE;
static_assert(sizeof(KSDATAFORMAT) == 64, "KSDATAFORMAT layout");
static_assert(offsetof(KSDATAFORMAT, MajorFormat) == 16 && offsetof(KSDATAFORMAT, Specifier) == 48,
              "KSDATAFORMAT layout");

typedef struct tagKS_RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

typedef struct tagKS_SIZE {
    LONG cx;
    LONG cy;
} SIZE;

typedef struct tagKS_BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} KS_BITMAPINFOHEADER, *PKS_BITMAPINFOHEADER;
static_assert(sizeof(KS_BITMAPINFOHEADER) == 40, "KS_BITMAPINFOHEADER layout");

#define KS_BI_RGB 0L

typedef struct tagKS_VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    KS_BITMAPINFOHEADER bmiHeader;
} KS_VIDEOINFOHEADER, *PKS_VIDEOINFOHEADER;
static_assert(offsetof(KS_VIDEOINFOHEADER, AvgTimePerFrame) == 40, "KS_VIDEOINFOHEADER layout");
static_assert(offsetof(KS_VIDEOINFOHEADER, bmiHeader) == 48, "KS_VIDEOINFOHEADER layout");
static_assert(sizeof(KS_VIDEOINFOHEADER) == 88, "KS_VIDEOINFOHEADER layout");

typedef struct _KS_VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int CropGranularityX;
    int CropGranularityY;
    int CropAlignX;
    int CropAlignY;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int OutputGranularityX;
    int OutputGranularityY;
    int StretchTapsX;
    int StretchTapsY;
    int ShrinkTapsX;
    int ShrinkTapsY;
    LONGLONG MinFrameInterval;
    LONGLONG MaxFrameInterval;
    LONG MinBitsPerSecond;
    LONG MaxBitsPerSecond;
} KS_VIDEO_STREAM_CONFIG_CAPS, *PKS_VIDEO_STREAM_CONFIG_CAPS;
static_assert(sizeof(KS_VIDEO_STREAM_CONFIG_CAPS) == 128, "KS_VIDEO_STREAM_CONFIG_CAPS layout");
static_assert(offsetof(KS_VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval) == 104,
              "KS_VIDEO_STREAM_CONFIG_CAPS layout");

#define KS_AnalogVideo_None 0x00000000

typedef struct tagKS_DATARANGE_VIDEO {
    KSDATARANGE DataRange;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    DWORD StreamDescriptionFlags;
    DWORD MemoryAllocationFlags;
    KS_VIDEO_STREAM_CONFIG_CAPS ConfigCaps;
    KS_VIDEOINFOHEADER VideoInfoHeader;
} KS_DATARANGE_VIDEO, *PKS_DATARANGE_VIDEO;
static_assert(sizeof(KS_DATARANGE_VIDEO) == 296, "KS_DATARANGE_VIDEO layout");
static_assert(offsetof(KS_DATARANGE_VIDEO, ConfigCaps) == 80, "KS_DATARANGE_VIDEO layout");
static_assert(offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader) == 208, "KS_DATARANGE_VIDEO layout");

typedef struct tagKS_DATAFORMAT_VIDEOINFOHEADER {
    KSDATAFORMAT DataFormat;
    KS_VIDEOINFOHEADER VideoInfoHeader;
} KS_DATAFORMAT_VIDEOINFOHEADER, *PKS_DATAFORMAT_VIDEOINFOHEADER;
static_assert(sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) == 152, "KS_DATAFORMAT_VIDEOINFOHEADER layout");
static_assert(offsetof(KS_DATAFORMAT_VIDEOINFOHEADER, VideoInfoHeader) == 64,
              "KS_DATAFORMAT_VIDEOINFOHEADER layout");

// ---------------------------------------------------------------- allocator framing

typedef struct {
    ULONG RatioNumerator;
    ULONG RatioDenominator;
    ULONG RatioConstantMargin;
} KS_COMPRESSION, *PKS_COMPRESSION;

typedef struct {
    ULONG MinFrameSize;
    ULONG MaxFrameSize;
    ULONG Stepping;
} KS_FRAMING_RANGE, *PKS_FRAMING_RANGE;

typedef struct {
    KS_FRAMING_RANGE Range;
    ULONG InPlaceWeight;
    ULONG NotInPlaceWeight;
} KS_FRAMING_RANGE_WEIGHTED, *PKS_FRAMING_RANGE_WEIGHTED;

typedef struct {
    GUID MemoryType;
    GUID BusType;
    ULONG MemoryFlags;
    ULONG BusFlags;
    ULONG Flags;
    ULONG Frames;
    union {
        ULONG FileAlignment;
        LONG FramePitch;
    };
    ULONG MemoryTypeWeight;
    KS_FRAMING_RANGE PhysicalRange;
    KS_FRAMING_RANGE_WEIGHTED FramingRange;
} KS_FRAMING_ITEM, *PKS_FRAMING_ITEM;
static_assert(sizeof(KS_FRAMING_ITEM) == 88, "KS_FRAMING_ITEM layout");

typedef struct {
    ULONG CountItems;
    ULONG PinFlags;
    KS_COMPRESSION OutputCompression;
    ULONG PinWeight;
    KS_FRAMING_ITEM FramingItem[1];
} KSALLOCATOR_FRAMING_EX, *PKSALLOCATOR_FRAMING_EX;
static_assert(sizeof(KSALLOCATOR_FRAMING_EX) == 112, "KSALLOCATOR_FRAMING_EX layout");
static_assert(offsetof(KSALLOCATOR_FRAMING_EX, FramingItem) == 24, "KSALLOCATOR_FRAMING_EX layout");

#define KSALLOCATOR_REQUIREMENTF_INPLACE_MODIFIER 0x00000001
#define KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY 0x00000002
#define KSALLOCATOR_REQUIREMENTF_FRAME_INTEGRITY 0x00000004
#define KSALLOCATOR_REQUIREMENTF_MUST_ALLOCATE 0x00000008
#define KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY 0x80000000

#define FILE_BYTE_ALIGNMENT 0x00000000

// ---------------------------------------------------------------- streaming

typedef enum {
    KSSTATE_STOP,
    KSSTATE_ACQUIRE,
    KSSTATE_PAUSE,
    KSSTATE_RUN,
} KSSTATE,
    *PKSSTATE;

typedef enum { KSRESET_BEGIN, KSRESET_END } KSRESET;

typedef enum {
    KSPIN_DATAFLOW_IN = 1,
    KSPIN_DATAFLOW_OUT,
} KSPIN_DATAFLOW,
    *PKSPIN_DATAFLOW;

typedef enum {
    KSPIN_COMMUNICATION_NONE,
    KSPIN_COMMUNICATION_SINK,
    KSPIN_COMMUNICATION_SOURCE,
    KSPIN_COMMUNICATION_BOTH,
    KSPIN_COMMUNICATION_BRIDGE,
} KSPIN_COMMUNICATION,
    *PKSPIN_COMMUNICATION;

typedef struct {
    LONGLONG Time;
    ULONG Numerator;
    ULONG Denominator;
} KSTIME, *PKSTIME;

typedef struct {
    ULONG Size;
    ULONG TypeSpecificFlags;
    KSTIME PresentationTime;
    LONGLONG Duration;
    ULONG FrameExtent;
    ULONG DataUsed;
    PVOID Data;
    ULONG OptionsFlags;
    ULONG Reserved;
} KSSTREAM_HEADER, *PKSSTREAM_HEADER;
static_assert(sizeof(KSSTREAM_HEADER) == 56, "KSSTREAM_HEADER layout");
static_assert(offsetof(KSSTREAM_HEADER, PresentationTime) == 8 &&
                  offsetof(KSSTREAM_HEADER, Duration) == 24 &&
                  offsetof(KSSTREAM_HEADER, DataUsed) == 36 &&
                  offsetof(KSSTREAM_HEADER, Data) == 40 &&
                  offsetof(KSSTREAM_HEADER, OptionsFlags) == 48,
              "KSSTREAM_HEADER layout");

#define KSSTREAM_HEADER_OPTIONSF_SPLICEPOINT 0x00000001
#define KSSTREAM_HEADER_OPTIONSF_PREROLL 0x00000002
#define KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY 0x00000004
#define KSSTREAM_HEADER_OPTIONSF_TYPECHANGED 0x00000008
#define KSSTREAM_HEADER_OPTIONSF_TIMEVALID 0x00000010
#define KSSTREAM_HEADER_OPTIONSF_TIMEDISCONTINUITY 0x00000040
#define KSSTREAM_HEADER_OPTIONSF_FLUSHONPAUSE 0x00000080
#define KSSTREAM_HEADER_OPTIONSF_DURATIONVALID 0x00000100
#define KSSTREAM_HEADER_OPTIONSF_ENDOFSTREAM 0x00000200

// Video frame information, right behind the stream header when the header is large enough.
typedef struct KS_FRAME_INFO {
    ULONG ExtendedHeaderSize;
    DWORD dwFrameFlags;
    LONGLONG PictureNumber;
    LONGLONG DropCount;
    HANDLE hDirectDraw;
    HANDLE hSurfaceHandle;
    RECT DirectDrawRect;
    union {
        LONG lSurfacePitch;
        DWORD Reserved1;
    };
    DWORD Reserved2;
    union {
        struct {
            DWORD Reserved3;
            DWORD Reserved4;
        };
        ULONGLONG FrameCompletionNumber;
    };
} KS_FRAME_INFO, *PKS_FRAME_INFO;
static_assert(sizeof(KS_FRAME_INFO) == 72, "KS_FRAME_INFO layout");
static_assert(offsetof(KS_FRAME_INFO, PictureNumber) == 8 &&
                  offsetof(KS_FRAME_INFO, DropCount) == 16,
              "KS_FRAME_INFO layout");

struct _KSSTREAM_POINTER_OFFSET {
    PUCHAR Data;
    ULONG Count;
    ULONG Remaining;
};
static_assert(sizeof(KSSTREAM_POINTER_OFFSET) == 16, "KSSTREAM_POINTER_OFFSET layout");

struct _KSSTREAM_POINTER {
    PVOID Context;
    PKSPIN Pin;
    PKSSTREAM_HEADER StreamHeader;
    PKSSTREAM_POINTER_OFFSET Offset;
    KSSTREAM_POINTER_OFFSET OffsetIn;
    KSSTREAM_POINTER_OFFSET OffsetOut;
};
static_assert(sizeof(KSSTREAM_POINTER) == 64, "KSSTREAM_POINTER layout");
static_assert(offsetof(KSSTREAM_POINTER, StreamHeader) == 16, "KSSTREAM_POINTER layout");

typedef enum {
    KSSTREAM_POINTER_STATE_UNLOCKED = 0,
    KSSTREAM_POINTER_STATE_LOCKED,
} KSSTREAM_POINTER_STATE;

// ---------------------------------------------------------------- reference clock interface

typedef const GUID& REFIID;

typedef struct {
    LONGLONG Granularity;
    LONGLONG Error;
} KSRESOLUTION, *PKSRESOLUTION;

// The kernel's COM-style base: slots 0 to 2.
struct IUnknown {
    virtual NTSTATUS QueryInterface(REFIID InterfaceId, PVOID* Interface) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

// Stream and physical time in 100-ns units; slots 3 to 8 in the platform's order.
struct IKsReferenceClock : public IUnknown {
    virtual LONGLONG GetTime() = 0;
    virtual LONGLONG GetPhysicalTime() = 0;
    virtual LONGLONG GetCorrelatedTime(PLONGLONG SystemTime) = 0;
    virtual LONGLONG GetCorrelatedPhysicalTime(PLONGLONG SystemTime) = 0;
    virtual NTSTATUS GetResolution(PKSRESOLUTION Resolution) = 0;
    virtual NTSTATUS GetState(PKSSTATE State) = 0;
};
typedef IKsReferenceClock* PIKSREFERENCECLOCK;

// ---------------------------------------------------------------- callbacks

typedef NTSTATUS (*PFNKSDEVICECREATE)(PKSDEVICE Device);
typedef NTSTATUS (*PFNKSDEVICEPNPSTART)(PKSDEVICE Device, PIRP Irp,
                                        PCM_RESOURCE_LIST TranslatedResourceList,
                                        PCM_RESOURCE_LIST UntranslatedResourceList);
typedef NTSTATUS (*PFNKSDEVICE)(PKSDEVICE Device);
typedef NTSTATUS (*PFNKSDEVICEIRP)(PKSDEVICE Device, PIRP Irp);
typedef VOID (*PFNKSDEVICEIRPVOID)(PKSDEVICE Device, PIRP Irp);
typedef NTSTATUS (*PFNKSDEVICEQUERYCAPABILITIES)(PKSDEVICE Device, PIRP Irp,
                                                 PDEVICE_CAPABILITIES Capabilities);
typedef NTSTATUS (*PFNKSDEVICEQUERYPOWER)(PKSDEVICE Device, PIRP Irp, DEVICE_POWER_STATE DeviceTo,
                                          DEVICE_POWER_STATE DeviceFrom,
                                          SYSTEM_POWER_STATE SystemTo,
                                          SYSTEM_POWER_STATE SystemFrom, POWER_ACTION Action);
typedef VOID (*PFNKSDEVICESETPOWER)(PKSDEVICE Device, PIRP Irp, DEVICE_POWER_STATE To,
                                    DEVICE_POWER_STATE From);

typedef NTSTATUS (*PFNKSFILTERIRP)(PKSFILTER Filter, PIRP Irp);
typedef NTSTATUS (*PFNKSFILTERPROCESS)(PKSFILTER Filter, PKSPROCESSPIN_INDEXENTRY Index);
typedef NTSTATUS (*PFNKSFILTERVOID)(PKSFILTER Filter);
typedef NTSTATUS (*PFNKSFILTERFACTORYPOWER)(PKSFILTERFACTORY FilterFactory,
                                            DEVICE_POWER_STATE State);

typedef NTSTATUS (*PFNKSPINIRP)(PKSPIN Pin, PIRP Irp);
typedef NTSTATUS (*PFNKSPIN)(PKSPIN Pin);
typedef VOID (*PFNKSPINVOID)(PKSPIN Pin);
typedef NTSTATUS (*PFNKSPINSETDATAFORMAT)(PKSPIN Pin, PKSDATAFORMAT OldFormat,
                                          PKSMULTIPLE_ITEM OldAttributeList,
                                          const KSDATARANGE* DataRange,
                                          const KSATTRIBUTE_LIST* AttributeRange);
typedef NTSTATUS (*PFNKSPINSETDEVICESTATE)(PKSPIN Pin, KSSTATE ToState, KSSTATE FromState);
typedef NTSTATUS (*PFNKSINTERSECTHANDLEREX)(PVOID Context, PIRP Irp, PKSP_PIN Pin,
                                            PKSDATARANGE DataRange, PKSDATARANGE MatchingDataRange,
                                            ULONG DataBufferSize, PVOID Data, PULONG DataSize);

// Release callback of an object bag item.
typedef VOID (*PFNKSFREE)(PVOID Data);

// ---------------------------------------------------------------- descriptors and dispatch

struct _KSDEVICE_DISPATCH {
    PFNKSDEVICECREATE Add;
    PFNKSDEVICEPNPSTART Start;
    PFNKSDEVICE PostStart;
    PFNKSDEVICEIRP QueryStop;
    PFNKSDEVICEIRPVOID CancelStop;
    PFNKSDEVICEIRPVOID Stop;
    PFNKSDEVICEIRP QueryRemove;
    PFNKSDEVICEIRPVOID CancelRemove;
    PFNKSDEVICEIRPVOID Remove;
    PFNKSDEVICEQUERYCAPABILITIES QueryCapabilities;
    PFNKSDEVICEIRPVOID SurpriseRemoval;
    PFNKSDEVICEQUERYPOWER QueryPower;
    PFNKSDEVICESETPOWER SetPower;
    PFNKSDEVICEIRP QueryInterface;
};
static_assert(sizeof(KSDEVICE_DISPATCH) == 14 * 8, "KSDEVICE_DISPATCH layout");
static_assert(offsetof(KSDEVICE_DISPATCH, Stop) == 40, "KSDEVICE_DISPATCH layout");

struct _KSDEVICE_DESCRIPTOR {
    const KSDEVICE_DISPATCH* Dispatch;
    ULONG FilterDescriptorsCount;
    const KSFILTER_DESCRIPTOR* const* FilterDescriptors;
    ULONG Version;
    ULONG Flags;
};
static_assert(sizeof(KSDEVICE_DESCRIPTOR) == 32, "KSDEVICE_DESCRIPTOR layout");

#define KSDEVICE_DESCRIPTOR_VERSION (0x100)

struct _KSFILTER_DISPATCH {
    PFNKSFILTERIRP Create;
    PFNKSFILTERIRP Close;
    PFNKSFILTERPROCESS Process;
    PFNKSFILTERVOID Reset;
};

typedef struct {
    const KSAUTOMATION_TABLE* AutomationTable;
    const GUID* Type;
    const GUID* Name;
} KSNODE_DESCRIPTOR, *PKSNODE_DESCRIPTOR;
static_assert(sizeof(KSNODE_DESCRIPTOR) == 24, "KSNODE_DESCRIPTOR layout");

typedef struct {
    ULONG FromNode;
    ULONG FromNodePin;
    ULONG ToNode;
    ULONG ToNodePin;
} KSTOPOLOGY_CONNECTION, *PKSTOPOLOGY_CONNECTION;

typedef struct {
    GUID Manufacturer;
    GUID Product;
    GUID Component;
    GUID Name;
    ULONG Version;
    ULONG Revision;
} KSCOMPONENTID, *PKSCOMPONENTID;

struct _KSFILTER_DESCRIPTOR {
    const KSFILTER_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    ULONG Version;
    ULONG Flags;
    const GUID* ReferenceGuid;
    ULONG PinDescriptorsCount;
    ULONG PinDescriptorSize;
    const KSPIN_DESCRIPTOR_EX* PinDescriptors;
    ULONG CategoriesCount;
    const GUID* Categories;
    ULONG NodeDescriptorsCount;
    ULONG NodeDescriptorSize;
    const KSNODE_DESCRIPTOR* NodeDescriptors;
    ULONG ConnectionsCount;
    const KSTOPOLOGY_CONNECTION* Connections;
    const KSCOMPONENTID* ComponentId;
};
static_assert(sizeof(KSFILTER_DESCRIPTOR) == 104, "KSFILTER_DESCRIPTOR layout");
static_assert(offsetof(KSFILTER_DESCRIPTOR, PinDescriptorsCount) == 32 &&
                  offsetof(KSFILTER_DESCRIPTOR, Categories) == 56,
              "KSFILTER_DESCRIPTOR layout");

#define KSFILTER_DESCRIPTOR_VERSION ((ULONG)-1)

typedef struct {
    ULONG InterfacesCount;
    const KSPIN_INTERFACE* Interfaces;
    ULONG MediumsCount;
    const KSPIN_MEDIUM* Mediums;
    ULONG DataRangesCount;
    const PKSDATARANGE* DataRanges;
    KSPIN_DATAFLOW DataFlow;
    KSPIN_COMMUNICATION Communication;
    const GUID* Category;
    const GUID* Name;
    union {
        LONGLONG Reserved;
        struct {
            ULONG ConstrainedDataRangesCount;
            PKSDATARANGE* ConstrainedDataRanges;
        };
    };
} KSPIN_DESCRIPTOR, *PKSPIN_DESCRIPTOR;
static_assert(sizeof(KSPIN_DESCRIPTOR) == 88, "KSPIN_DESCRIPTOR layout");
static_assert(offsetof(KSPIN_DESCRIPTOR, DataRanges) == 40 &&
                  offsetof(KSPIN_DESCRIPTOR, Category) == 56,
              "KSPIN_DESCRIPTOR layout");

struct _KSPIN_DISPATCH {
    PFNKSPINIRP Create;
    PFNKSPINIRP Close;
    PFNKSPIN Process;
    PFNKSPINVOID Reset;
    PFNKSPINSETDATAFORMAT SetDataFormat;
    PFNKSPINSETDEVICESTATE SetDeviceState;
    PFNKSPIN Connect;
    PFNKSPINVOID Disconnect;
    const KSCLOCK_DISPATCH* Clock;
    const KSALLOCATOR_DISPATCH* Allocator;
};
static_assert(sizeof(KSPIN_DISPATCH) == 80, "KSPIN_DISPATCH layout");

struct _KSPIN_DESCRIPTOR_EX {
    const KSPIN_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    KSPIN_DESCRIPTOR PinDescriptor;
    ULONG Flags;
    ULONG InstancesPossible;
    ULONG InstancesNecessary;
    const KSALLOCATOR_FRAMING_EX* AllocatorFraming;
    PFNKSINTERSECTHANDLEREX IntersectHandler;
};
static_assert(sizeof(KSPIN_DESCRIPTOR_EX) == 136, "KSPIN_DESCRIPTOR_EX layout");
static_assert(offsetof(KSPIN_DESCRIPTOR_EX, Flags) == 104 &&
                  offsetof(KSPIN_DESCRIPTOR_EX, AllocatorFraming) == 120,
              "KSPIN_DESCRIPTOR_EX layout");

#define KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING 0x00000001
#define KSPIN_FLAG_CRITICAL_PROCESSING 0x00000002
#define KSPIN_FLAG_HYPERCRITICAL_PROCESSING 0x00000004
#define KSPIN_FLAG_ASYNCHRONOUS_PROCESSING 0x00000008
#define KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING 0x00000010
#define KSPIN_FLAG_INITIATE_PROCESSING_ON_EVERY_ARRIVAL 0x00000020
#define KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING 0x00000040
#define KSPIN_FLAG_ENFORCE_FIFO 0x00000080
#define KSPIN_FLAG_GENERATE_MAPPINGS 0x00000100
#define KSPIN_FLAG_DISTINCT_TRAILING_EDGE 0x00000200
#define KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY 0x00010000
#define KSPIN_FLAG_SPLITTER 0x00020000
#define KSPIN_FLAG_USE_STANDARD_TRANSPORT 0x00040000
#define KSPIN_FLAG_DO_NOT_USE_STANDARD_TRANSPORT 0x00080000
#define KSPIN_FLAG_FIXED_FORMAT 0x00100000
#define KSPIN_FLAG_GENERATE_EOS_EVENTS 0x00200000
#define KSPIN_FLAG_IMPLEMENT_CLOCK 0x00400000

// ---------------------------------------------------------------- objects

struct _KSDEVICE {
    const KSDEVICE_DESCRIPTOR* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
    PDEVICE_OBJECT FunctionalDeviceObject;
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    BOOLEAN Started;
    SYSTEM_POWER_STATE SystemPowerState;
    DEVICE_POWER_STATE DevicePowerState;
};
static_assert(sizeof(KSDEVICE) == 64, "KSDEVICE layout");
static_assert(offsetof(KSDEVICE, Context) == 16 && offsetof(KSDEVICE, NextDeviceObject) == 40 &&
                  offsetof(KSDEVICE, Started) == 48,
              "KSDEVICE layout");

struct _KSFILTERFACTORY {
    const KSFILTER_DESCRIPTOR* FilterDescriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
};

struct _KSFILTER {
    const KSFILTER_DESCRIPTOR* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
};
static_assert(sizeof(KSFILTER) == 24, "KSFILTER layout");

struct _KSPIN {
    const KSPIN_DESCRIPTOR_EX* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
    ULONG Id;
    KSPIN_COMMUNICATION Communication;
    BOOLEAN ConnectionIsExternal;
    KSPIN_INTERFACE ConnectionInterface;
    KSPIN_MEDIUM ConnectionMedium;
    KSPRIORITY ConnectionPriority;
    PKSDATAFORMAT ConnectionFormat;
    PKSMULTIPLE_ITEM AttributeList;
    ULONG StreamHeaderSize;
    KSPIN_DATAFLOW DataFlow;
    KSSTATE DeviceState;
    KSRESET ResetState;
    KSSTATE ClientState;
};
static_assert(sizeof(KSPIN) == 136, "KSPIN layout");
static_assert(offsetof(KSPIN, Context) == 16 && offsetof(KSPIN, ConnectionFormat) == 96 &&
                  offsetof(KSPIN, DeviceState) == 120,
              "KSPIN layout");

// ---------------------------------------------------------------- create items, requests

#define KSCREATE_ITEM_SECURITYCHANGED 0x00000001
#define KSCREATE_ITEM_WILDCARD 0x00000002
#define KSCREATE_ITEM_NOPARAMETERS 0x00000004
#define KSCREATE_ITEM_FREEONSTOP 0x00000008

#define IOCTL_KS_PROPERTY CTL_CODE(FILE_DEVICE_KS, 0x000, METHOD_NEITHER, FILE_ANY_ACCESS)

#define KSPROPERTY_PIN_DATARANGES 3
#define KSPROPERTY_PIN_DATAINTERSECTION 4

// ---------------------------------------------------------------- GUIDs

#define KS_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

KS_GUID(GUID_NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
KS_GUID(KSCATEGORY_VIDEO, 0x6994AD05, 0x93EF, 0x11D0, 0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31,
        0x96);
KS_GUID(KSCATEGORY_CAPTURE, 0x65E8773D, 0x8F56, 0x11D0, 0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31,
        0x96);
KS_GUID(KSNAME_Filter, 0x9B365890, 0x165F, 0x11D0, 0xA1, 0x95, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4);
KS_GUID(PIN_CATEGORY_CAPTURE, 0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16,
        0xBA);
KS_GUID(KSDATAFORMAT_TYPE_VIDEO, 0x73646976, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38,
        0x9B, 0x71);
KS_GUID(MEDIASUBTYPE_RGB32, 0xE436EB7E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7,
        0x70);
KS_GUID(KSDATAFORMAT_SPECIFIER_VIDEOINFO, 0x05589F80, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00,
        0x55, 0x59, 0x5A);
KS_GUID(KSMEMORY_TYPE_KERNEL_NONPAGED, 0x4A6D5FC4, 0x7895, 0x11D1, 0xB0, 0x69, 0x00, 0xA0, 0xC9,
        0x06, 0x28, 0x02);
KS_GUID(KSPROPSETID_Pin, 0x8C134960, 0x51AD, 0x11CF, 0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00,
        0x00);

#undef KS_GUID

// Null GUIDs by role: any bus type, any major format, subtype or specifier.
#define KS_TYPE_DONT_CARE GUID_NULL
#define KSDATAFORMAT_TYPE_WILDCARD GUID_NULL
#define KSDATAFORMAT_SUBTYPE_WILDCARD GUID_NULL
#define KSDATAFORMAT_SPECIFIER_WILDCARD GUID_NULL

// ---------------------------------------------------------------- class driver services

extern "C" {

NTSTATUS KsInitializeDriver(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPathName,
                            const KSDEVICE_DESCRIPTOR* Descriptor);

VOID KsAcquireDevice(PKSDEVICE Device);
VOID KsReleaseDevice(PKSDEVICE Device);

NTSTATUS KsCreateFilterFactory(PDEVICE_OBJECT DeviceObject, const KSFILTER_DESCRIPTOR* Descriptor,
                               PWSTR RefString, PSECURITY_DESCRIPTOR SecurityDescriptor,
                               ULONG CreateItemFlags, PFNKSFILTERFACTORYPOWER SleepCallback,
                               PFNKSFILTERFACTORYPOWER WakeCallback,
                               PKSFILTERFACTORY* FilterFactory);

NTSTATUS KsAddItemToObjectBag(KSOBJECT_BAG ObjectBag, PVOID Item, PFNKSFREE Free);
NTSTATUS _KsEdit(KSOBJECT_BAG ObjectBag, PVOID* PointerToPointerToItem, ULONG NewSize,
                 ULONG OldSize, ULONG Tag);

// The KS device of a device, filter factory, filter or pin.
PKSDEVICE KsGetDevice(PVOID Object);
// The parent object: the filter of a pin, the factory of a filter, the device of a factory.
PVOID KsGetParent(PVOID Object);
// The filter a property or create request is addressed to (directly or through one of its pins).
PKSFILTER KsGetFilterFromIrp(PIRP Irp);

NTSTATUS KsPinGetReferenceClockInterface(PKSPIN Pin, PIKSREFERENCECLOCK* Interface);
PKSSTREAM_POINTER KsPinGetLeadingEdgeStreamPointer(PKSPIN Pin, KSSTREAM_POINTER_STATE State);
VOID KsStreamPointerUnlock(PKSSTREAM_POINTER StreamPointer, BOOLEAN Eject);
VOID KsPinAttemptProcessing(PKSPIN Pin, BOOLEAN Asynchronous);

}  // extern "C"

#define KsEdit(Object, PointerToPointer, Tag)                                        \
    _KsEdit((Object)->Bag, (PVOID*)(PointerToPointer), sizeof(**(PointerToPointer)), \
            sizeof(**(PointerToPointer)), (Tag))

inline PKSDEVICE KsFilterGetDevice(PKSFILTER Filter) { return KsGetDevice(Filter); }
inline PKSDEVICE KsPinGetDevice(PKSPIN Pin) { return KsGetDevice(Pin); }
inline PKSFILTER KsPinGetParentFilter(PKSPIN Pin) {
    return static_cast<PKSFILTER>(KsGetParent(Pin));
}
inline PKSFILTERFACTORY KsFilterGetParentFilterFactory(PKSFILTER Filter) {
    return static_cast<PKSFILTERFACTORY>(KsGetParent(Filter));
}

#endif  // BAYERCAM_WINDOWS_KERNEL
