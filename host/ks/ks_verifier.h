// Where the class driver reports a minidriver's misuse of its services.
#pragma once

namespace bayercam::host::ks {

// Records a verifier failure: the minidriver broke a rule of the class driver. Never returns an
// error to the caller; the test that drove the minidriver fails at teardown.
void reportMisuse(const char* what) noexcept;

}  // namespace bayercam::host::ks
