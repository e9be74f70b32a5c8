#pragma once
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "velmo-pack/pack_builder.h"

namespace velmo {

// Records built against the Android package: "copy", "delta", "bundle".
bool addSourceRecord(PackBuilder& builder, const nlohmann::json& record, const std::string& kind,
                     const std::filesystem::path& base, std::string& error);

}  // namespace velmo
