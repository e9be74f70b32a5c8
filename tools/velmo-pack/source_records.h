#pragma once
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "velmo-pack/pack_builder.h"

namespace velmo {

// Reads an entry of the APK or OBB, for records that name no "sourceFile".
using SourceEntryReader =
    std::function<bool(XapkArchive archive, const std::string& entry, Bytes& out, std::string& error)>;

// Records built against the Android package: "copy", "delta", "bundle".
// Without a "sourceFile", a record's source is read with fromXapk (when set).
bool addSourceRecord(PackBuilder& builder, const nlohmann::json& record, const std::string& kind,
                     const std::filesystem::path& base, const SourceEntryReader& fromXapk, std::string& error);

// Segment size of bundle deltas: each segment's delta covers this much of
// the source and target payloads (the last segment takes the rest).
constexpr uint64_t kBundleSegmentSize = 25165824;

// A BundlePatch record from a source bundle and the decoded target payload.
// rebuilt, when given, receives the bundle the patcher will write;
// encodedTarget, when given, is targetPayload already encoded with the fixed
// settings (lzmaEncodeRaw), so it is not encoded again.
bool addBundleRecord(PackBuilder& builder, PackEntry& entry, ByteView sourceBundle, ByteView targetPayload,
                     bool compress, std::string& error, Bytes* rebuilt = nullptr,
                     const Bytes* encodedTarget = nullptr);
// A FileDelta record from the source and target files.
bool addDeltaRecord(PackBuilder& builder, PackEntry& entry, ByteView source, ByteView target, bool compress,
                    std::string& error);
// The decoded payload of a whole UnityWeb bundle.
bool decodeBundlePayload(ByteView bundle, Bytes& payload, std::string& error);

}  // namespace velmo
