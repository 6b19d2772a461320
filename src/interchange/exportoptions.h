// Options and the report of a scene export.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Key times are counted in units; exported files count seconds. One rate for every export and
// for the viewer's playback.
constexpr double kDefaultTimeUnitsPerSecond = 30.0;

// The generator our exports name; the import knows its own files by it.
constexpr const char* kExportGenerator = "morv3d export";

struct ExportOptions {
    double dTimeUnitsPerSecond = kDefaultTimeUnitsPerSecond;
    // Rotation tracks are sampled densely enough that slerp between samples stays within this
    // angle of the engine's eased rotation (radians).
    double dMaxRotationError = 1e-3;
    // At most this many samples per sampled track; a longer track gets fewer, and the report
    // says which error that left.
    uint32_t dwMaxSamplesPerTrack = 100000;
};

struct ExportReport {
    std::vector<std::string> missingTextures;  // stored names without a file
    std::vector<std::string> dropped;          // what the format cannot hold
    std::vector<std::string> notes;            // approximations, substitutions
    std::vector<std::string> written;          // files written, OUT first
    double dMaxRotationError = 0.0;            // radians, the largest over all sampled tracks
};
