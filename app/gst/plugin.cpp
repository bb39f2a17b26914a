// libgstbayercam.so: the plugin that holds bayercamsrc.
#include <gst/gst.h>

#include "app/gst/bayercam_src.h"

namespace {

gboolean registerElements(GstPlugin* plugin) {
    return gst_element_register(plugin, "bayercamsrc", GST_RANK_NONE, BAYERCAM_TYPE_SRC);
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, bayercam,
                  "Live video from bayercam cameras", registerElements, VERSION,
                  GST_LICENSE_UNKNOWN, PACKAGE, "bayercam")
