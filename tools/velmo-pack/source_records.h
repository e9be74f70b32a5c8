#pragma once
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "velmo-pack/pack_builder.h"

namespace velmo {

// Records built against the Android package: "copy", "delta", "bundle".
bool addSourceRecord(PackBuilder& builder, const nlohmann::json& record, const std::string& kind,
                     const std::filesystem::path& base, std::string& error);

// Segment size of bundle deltas: each segment's delta covers this much of
// the source and target payloads (the last segment takes the rest).
constexpr uint64_t kBundleSegmentSize = 25165824;

// A BundlePatch record from a source bundle and the decoded target payload.
// rebuilt, when given, receives the bundle the patcher will write.
bool addBundleRecord(PackBuilder& builder, PackEntry& entry, ByteView sourceBundle, ByteView targetPayload,
                     bool compress, std::string& error, Bytes* rebuilt = nullptr);
// A FileDelta record from the source and target files.
bool addDeltaRecord(PackBuilder& builder, PackEntry& entry, ByteView source, ByteView target, bool compress,
                    std::string& error);
// The decoded payload of a whole UnityWeb bundle.
bool decodeBundlePayload(ByteView bundle, Bytes& payload, std::string& error);

}  // namespace velmo
