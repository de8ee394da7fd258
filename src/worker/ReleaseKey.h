#pragma once

// The publisher's minisign public key fixed at build time (VORN_RELEASE_KEY),
// or the empty text for a build without one, whose releases are not verified.
const char* BuiltInReleaseKey();

// Said once by each front end of a build without a key.
inline constexpr const char* kReleasesNotVerified =
    "this build has no publisher key (VORN_RELEASE_KEY): releases are not verified";
