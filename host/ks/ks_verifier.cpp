#include "host/ks/ks_verifier.h"

#include <cstdio>

namespace bayercam::host::ks {

void reportMisuse(const char* what) noexcept { std::fprintf(stderr, "ks verifier: %s\n", what); }

}  // namespace bayercam::host::ks
