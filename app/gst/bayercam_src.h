// bayercamsrc: the camera as a GStreamer live source. BGRx pictures top row first, as the
// driver converts them; the camera's settings and region as properties; buffer times from the
// driver's presentation times, the picture number as offset.
#pragma once

#include <gst/base/gstbasesrc.h>

G_BEGIN_DECLS

#define BAYERCAM_TYPE_SRC (bayercam_src_get_type())
G_DECLARE_FINAL_TYPE(BayercamSrc, bayercam_src, BAYERCAM, SRC, GstBaseSrc)

G_END_DECLS
